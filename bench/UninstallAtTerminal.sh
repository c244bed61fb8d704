#!/usr/bin/env bash
# The whole uninstall at a terminal (a pseudo-terminal made by script(1), confirmed by typing "2",
# its progress line drawn there) against the removal tool alone writing its -v lines to
# /dev/null, on the same trees: a bundle of FILES files (default 50,000) removed whole, and a
# folder of FILES files listed one by one (one progress line each). Prints `ratio <what> <uninstall/tool>`.
# Run as root (the uninstall then runs the tool itself, no password asked).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD_DIR:-build-bench}
files=${FILES:-50000}
rounds=${ROUNDS:-3}
if [ ! -x "$build/Uninstall.app/Contents/MacOS/Uninstall" ]; then
  cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
  cmake --build "$build" -j "$(nproc)" --target Uninstall InstallUtility >/dev/null
fi
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
app=$work/Uninstall.app/Contents/MacOS
mkdir -p "$app" "$work/tmp"
cp "$build/Uninstall.app/Contents/MacOS/Uninstall" "$build/Utility/InstallUtility/InstallUtility" "$app/"
printf '<targetPath path="%s"/>\n' "$work/target" >"$app/target_path.xml"

# Lays out the product's files under the target again: hard links to files made once per kind,
# quick to make (a file system slows down making many files just after removing many).
populate() {
  local folder=Listed
  [ "$1" = bundle ] && folder=Bench.bundle/Contents
  if [ ! -d "$work/made-$1" ]; then
    mkdir -p "$work/made-$1/$folder"
    (cd "$work/made-$1/$folder" && seq -f 'f%g' 1 "$files" | xargs touch)
  fi
  rm -rf "$work/target"
  cp -al "$work/made-$1" "$work/target"
}
definition() {
  echo '<product><sku ID="1" name="Bench Product"/><installFiles>'
  if [ "$1" = bundle ]; then
    echo '<file fileName="Bench.bundle"/>'
  else
    echo '<directory fileName="Listed">'
    seq -f '<file fileName="f%g"/>' 1 "$files"
    echo '</directory>'
  fi
  echo '</installFiles></product>'
}
seconds() { date +%s.%N; }

for kind in bundle listed; do
  definition "$kind" >"$app/sku.xml"
  best_whole=999999; best_tool=999999
  for _ in $(seq "$rounds"); do
    populate "$kind"
    start=$(seconds)
    "$app/InstallUtility" -uninstall "$app/sku.xml" "$app/target_path.xml" -v >/dev/null
    tool=$(echo "$(seconds) - $start" | bc)
    populate "$kind"
    rm -rf "$work/tmp"/*
    start=$(seconds)
    # "2" answers the confirmation with Uninstall; the end of input answers the completion.
    printf '2\n' | TMPDIR=$work/tmp script -qec "$app/Uninstall" /dev/null >"$work/terminal.txt"
    whole=$(echo "$(seconds) - $start" | bc)
    if [ -n "$(ls -A "$work/target")" ]; then
      echo "the uninstall left files behind; what the terminal showed:" >&2
      cat "$work/terminal.txt" >&2
      exit 1
    fi
    best_tool=$(echo "if ($tool < $best_tool) $tool else $best_tool" | bc)
    best_whole=$(echo "if ($whole < $best_whole) $whole else $best_whole" | bc)
  done
  printf 'ratio uninstall_at_terminal_%s_%s %.3f (%.3f / %.3f s, best of %s)\n' "$kind" "$files" \
    "$(echo "$best_whole / $best_tool" | bc -l)" "$best_whole" "$best_tool" "$rounds"
done
