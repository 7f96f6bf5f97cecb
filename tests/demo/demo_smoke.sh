#!/usr/bin/env bash
# A headless run of the demo as a user starts it: under a virtual X display (xvfb-run), the
# main window must appear with its caption, end on its "Выход" shortcut (Alt+X, typed through
# xdotool) and leave the demo with status 0 and its simulator stopped. Without a display the
# demo must refuse in one line instead of letting Qt abort.
#   demo_smoke.sh ROOT BUILD_DIR
set -uo pipefail
root=$1
build=$2
export VKS_BUILD_DIR=$build JOBS=1

out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/scripts/demo" 2>&1)
status=$?
if [ $status -ne 1 ] || [ "$(printf '%s\n' "$out" | wc -l)" -ne 1 ] || [[ $out != *"needs a graphical display"* ]]; then
  echo "without a display: status $status, output:"; printf '%s\n' "$out"; exit 1
fi

# Inside the virtual display: start the demo, find its window, type Alt+X, wait for the end.
inside='
  unset QT_QPA_PLATFORM
  "$0/scripts/demo" >"$1/demo-smoke.log" 2>&1 &
  demo=$!
  window=$(timeout 60 xdotool search --sync --onlyvisible --name "^Настройка ВКС" | head -n1)
  [ -n "$window" ] || { echo "no window within 60 s"; kill $demo; cat "$1/demo-smoke.log"; exit 1; }
  xdotool windowfocus --sync "$window" && xdotool key --clearmodifiers alt+x
  if ! timeout 30 tail --pid=$demo -f /dev/null; then echo "the program did not end on Alt+X"; kill $demo; exit 1; fi
  wait $demo; status=$?
  [ $status -eq 0 ] || { echo "demo ended with $status"; cat "$1/demo-smoke.log"; exit 1; }
  grep -q "simulated instrument at" "$1/demo-smoke.log" || { cat "$1/demo-smoke.log"; exit 1; }
'
xvfb-run -a bash -c "$inside" "$root" "$build" || exit 1

# A second run keeps what the first left in the project: only its port keys change.
project="$root/build/demo/demo.prj"
printf '[Kept By The User]\r\nNote=saved in an earlier run\r\n' >>"$project"
xvfb-run -a bash -c "$inside" "$root" "$build" || exit 1
grep -q "Note=saved in an earlier run" "$project" || { echo "the demo threw the saved project away"; exit 1; }
port=$(sed -n 's/^demo: simulated instrument at \([^ ]*\).*/\1/p' "$build/demo-smoke.log")
grep -q "^COMPortName=$port"$'\r'"\$" "$project" || { echo "the project's port is not the new simulator's $port"; cat -A "$project"; exit 1; }
if command -v pgrep >/dev/null && pgrep -f "^$build/bin/vks-sim" >/dev/null; then echo "the simulator is still running"; exit 1; fi
echo "demo smoke run passed"
