#!/usr/bin/env bash
# The fleet play of examples/ansible against three local installations (one inventory host each,
# connection local): one is removed, one fails on an immutable file, one is already gone. Then the
# file is freed and the play run twice more: the second time everything is ok, nothing changed.
# Arguments: the built Uninstall.app and the play. Exit 77: skipped.
set -euo pipefail
bundle=$1
play=$2
command -v ansible-playbook >/dev/null || { echo "skipped: ansible-playbook is not installed"; exit 77; }
[ "$(id -u)" = 0 ] || { echo "skipped: the immutable flag needs root"; exit 77; }
work=$(mktemp -d)
cleanup() { chattr -i "$work"/failing/target/A/f 2>/dev/null || true; rm -rf "$work"; }
trap cleanup EXIT
chmod 755 "$work"

inventory=$work/inventory.ini
echo "[installations]" >"$inventory"
for host in removed failing gone; do
  mkdir -p "$work/$host/target"
  cp -r "$bundle" "$work/$host/Uninstall.app"
  macos=$work/$host/Uninstall.app/Contents/MacOS
  printf '%s\n' '<product><sku name="Fleet Demo" ID="FD-1" build="7"/><installFiles>' \
    '<directory fileName="A"><file fileName="f"/><file fileName="g"/></directory></installFiles></product>' \
    >"$macos/sku.xml"
  echo "<targetPath path=\"$work/$host/target\"/>" >"$macos/target_path.xml"
  [ "$host" = gone ] || { mkdir "$work/$host/target/A"; echo f >"$work/$host/target/A/f"; echo g >"$work/$host/target/A/g"; }
  echo "$host ansible_connection=local ansible_python_interpreter=/usr/bin/python3 uninstall_path=$macos/Uninstall" >>"$inventory"
done
if ! chattr +i "$work/failing/target/A/f" 2>/dev/null; then
  echo "skipped: this file system has no immutable flag"
  exit 77
fi

export ANSIBLE_NOCOLOR=1 ANSIBLE_LOCAL_TEMP=$work/ansible-local ANSIBLE_REMOTE_TEMP=$work/ansible-remote
export ANSIBLE_HOME=$work/ansible-home ANSIBLE_RETRY_FILES_ENABLED=0 ANSIBLE_DEPRECATION_WARNINGS=0
# expect RUN HOST "ok=.. changed=.. failed=..": the host's recap line in the output of that run.
expect() {
  local got
  got=$(grep -E "^$2 +: " "$work/run$1.txt" | sed -E 's/^[^:]*: +//; s/ +skipped.*//; s/ +unreachable=0//' | tr -s ' ')
  [ "$got" = "$3" ] || { echo "run $1, $2: recap '$got', expected '$3'"; cat "$work/run$1.txt"; exit 1; }
}
play() { ansible-playbook -i "$inventory" "$1" >"$work/run$2.txt" 2>&1 || true; }

play "$play" 1
expect 1 removed "ok=2 changed=1 failed=0"
expect 1 failing "ok=2 changed=1 failed=1"
expect 1 gone "ok=2 changed=0 failed=0"
grep -q "Uninstall ended with status 1 (failed). $work/failing/target/A/f" "$work/run1.txt" ||
  { echo "the failure's reason is not in the play's output"; cat "$work/run1.txt"; exit 1; }
[ ! -e "$work/removed/target/A" ] && [ -e "$work/failing/target/A/f" ] || { echo "the disk is not as the play said"; exit 1; }

chattr -i "$work/failing/target/A/f"
play "$play" 2
expect 2 failing "ok=2 changed=1 failed=0"
play "$play" 3
for host in removed failing gone; do expect 3 $host "ok=2 changed=0 failed=0"; done
echo "1 passed, 0 failed"
