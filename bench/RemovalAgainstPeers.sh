#!/usr/bin/env bash
# The removal tool against its peers on one tree, every pair measured in the same round:
#   - InstallUtility -v (lines into a file) against rm -rf of the same tree (wall time);
#   - its dry run (-n -v) against the real removal (wall time);
#   - the peak memory of the real run, of the dry run and of SKUDefinition::fromFile against
#     TinyXML's own document of the same definition (a program that only loads it);
#   - the whole unattended Uninstall against InstallUtility -v alone (wall time);
#   - TinyXML's own load of the definition alone against rm -rf (wall time): the tool reads its
#     whole definition before it removes anything, so this part of the first ratio is not won back
#     by any walk;
#   - the processor time (user and system) of the first two pairs: a busy disk stretches the wall
#     times of every peer by seconds, while the processor time shows the tool's own work.
# The tree has FOLDERS folders of SUBFOLDERS folders of FILES files, every entry listed; by default
# 25 x 20 x 100 (50,525 entries, 1.7 MB of definition), a quarter of a large product's 100 x 20 x
# 100, so that ROUNDS rounds (default 3) take about a minute on two cores. Prints each
# ratio as the median of the rounds with its spread (lowest-highest), and the machine's load.
# Run as root (the uninstall then runs the tool itself, no password asked).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
folders=${FOLDERS:-25}
subfolders=${SUBFOLDERS:-20}
files=${FILES:-100}
rounds=${ROUNDS:-3}
if [ ! -x "$build/bench/tools/DefinitionLoad" ] || [ ! -x "$build/Uninstall.app/Contents/MacOS/Uninstall" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" --target Uninstall InstallUtility DefinitionLoad >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
app=$work/Uninstall.app/Contents/MacOS
mkdir -p "$app" "$work/tmp"
cp "$build/Uninstall.app/Contents/MacOS/Uninstall" "$build/Utility/InstallUtility/InstallUtility" "$app/"
printf '<targetPath path="%s"/>\n' "$work/target" >"$app/target_path.xml"
tool=$app/InstallUtility
load=$build/bench/tools/DefinitionLoad

# The definition lists every folder and file.
awk -v F="$folders" -v S="$subfolders" -v N="$files" 'BEGIN {
  print "<product><sku ID=\"1\" name=\"Bench Product\"/><installFiles>"
  for (f = 0; f < F; f++) {
    printf "<directory fileName=\"Folder%03d\">\n", f
    for (s = 0; s < S; s++) {
      printf " <directory fileName=\"Sub%02d\">\n", s
      for (n = 0; n < N; n++) printf "  <file fileName=\"file%03d.dat\"/>\n", n
      print " </directory>"
    }
    print "</directory>"
  }
  print "</installFiles></product>" }' >"$app/sku.xml"

# One tree of real files made once; each run gets a copy of it made of hard links to those files,
# which is quick to make (a file system slows down making many files just after removing many).
# Removing a link costs what removing a file does but freeing the file, the same for every peer.
# TREE=files gives each run a copy made of new files instead: each removal then also frees them.
mkdir -p "$work/template/Folder000/Sub00"
(cd "$work/template/Folder000/Sub00" && seq -f 'file%03g.dat' 0 $((files - 1)) | xargs touch)
for s in $(seq -f %02g 1 $((subfolders - 1))); do cp -r "$work/template/Folder000/Sub00" "$work/template/Folder000/Sub$s"; done
for f in $(seq -f %03g 1 $((folders - 1))); do cp -r "$work/template/Folder000" "$work/template/Folder$f"; done
tree=${TREE:-links}
populate() {
  rm -rf "$work/target"
  if [ "$tree" = files ]; then cp -r "$work/template" "$work/target"; else cp -al "$work/template" "$work/target"; fi
  sync
}

# Runs a command with its output into a file; prints "SECONDS PEAK_KB CPU_SECONDS". Fails when the
# command does.
measure() {
  local start end
  start=$(date +%s%N)
  /usr/bin/time -f '%M %U %S' -o "$work/peak" "$@" >"$work/output" 2>"$work/errors" </dev/null ||
    { echo "failed: $*" >&2; cat "$work/errors" >&2; exit 1; }
  end=$(date +%s%N)
  tail -1 "$work/peak" | { read -r peak user system
    echo "$(echo "($end - $start) / 1000000000" | bc -l) $peak $(echo "$user + $system" | bc -l)"; }
}
mb() { echo "$1 / 1000" | bc -l; }
gone() {
  if [ -n "$(ls -A "$work/target")" ]; then
    echo "the removal left files behind" >&2
    exit 1
  fi
}

entries=$((folders * subfolders * (files + 1) + folders))
echo "tree: $folders x $subfolders x $files ($entries entries, $(($(stat -c %s "$app/sku.xml") / 1000)) kB of definition), copies made of $tree, $rounds rounds"
echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
: >"$work/ratios"
for round in $(seq "$rounds"); do
  # Every run starts on a copy just made, so that none finds the disk quieter than another: the
  # real removal right after the dry run would find its writes long settled.
  populate
  measured=$(measure "$tool" -uninstall "$app/sku.xml" "$app/target_path.xml" -n -v)
  read -r dry dryPeak dryCpu <<<"$measured"
  populate
  measured=$(measure "$tool" -uninstall "$app/sku.xml" "$app/target_path.xml" -v)
  read -r real realPeak realCpu <<<"$measured"
  gone
  populate
  measured=$(measure rm -rf "$work/target/"*)
  read -r rm _ rmCpu <<<"$measured"
  gone
  populate
  rm -rf "$work/tmp"/*
  measured=$(measure env -u DISPLAY -u WAYLAND_DISPLAY UNINSTALL_UNATTENDED=1 TMPDIR="$work/tmp" "$app/Uninstall")
  read -r whole _ <<<"$measured"
  gone
  measured=$(measure "$load" tinyxml "$app/sku.xml")
  read -r domLoad domPeak _ <<<"$measured"
  measured=$(measure "$load" fromfile "$app/sku.xml")
  read -r _ modelPeak _ <<<"$measured"
  {
    echo "tool_-v_to_a_file/rm_-rf $(echo "$real / $rm" | bc -l) $real $rm s"
    echo "dry_run/real_removal $(echo "$dry / $real" | bc -l) $dry $real s"
    echo "peak_memory_real_run/TinyXML_document $(echo "$realPeak / $domPeak" | bc -l) $(mb "$realPeak") $(mb "$domPeak") MB"
    echo "peak_memory_dry_run/TinyXML_document $(echo "$dryPeak / $domPeak" | bc -l) $(mb "$dryPeak") $(mb "$domPeak") MB"
    echo "peak_memory_fromFile/TinyXML_document $(echo "$modelPeak / $domPeak" | bc -l) $(mb "$modelPeak") $(mb "$domPeak") MB"
    echo "unattended_Uninstall/tool_-v $(echo "$whole / $real" | bc -l) $whole $real s"
    echo "TinyXML_load_alone/rm_-rf $(echo "$domLoad / $rm" | bc -l) $domLoad $rm s"
    echo "cpu_time_tool_-v/rm_-rf $(echo "$realCpu / $rmCpu" | bc -l) $realCpu $rmCpu s"
    echo "cpu_time_dry_run/real_removal $(echo "$dryCpu / $realCpu" | bc -l) $dryCpu $realCpu s"
  } >>"$work/ratios"
done
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
# Per row: the median ratio, the lowest and highest, and the figures of the median round.
for what in tool_-v_to_a_file/rm_-rf dry_run/real_removal peak_memory_real_run/TinyXML_document \
  peak_memory_dry_run/TinyXML_document peak_memory_fromFile/TinyXML_document unattended_Uninstall/tool_-v \
  TinyXML_load_alone/rm_-rf \
  cpu_time_tool_-v/rm_-rf cpu_time_dry_run/real_removal; do
  grep "^$what " "$work/ratios" | sort -g -k2 | awk -v what="$what" '
    { ratio[NR] = $2; ours[NR] = $3; theirs[NR] = $4; unit = $5 }
    END {
      m = int((NR + 1) / 2)
      printf "ratio %-40s %5.2f  (median of %d, spread %.2f-%.2f; %.2f / %.2f %s)\n",
        what, ratio[m], NR, ratio[1], ratio[NR], ours[m], theirs[m], unit }'
done
