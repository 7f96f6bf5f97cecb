#!/usr/bin/env bash
# A headless run of the demo as a user starts it: under a virtual X display (an Xvfb of its own), the
# main window must appear with its caption, end on its "Выход" shortcut (Alt+X, typed through
# xdotool) and leave the demo with status 0 and its simulator stopped. Without a display the
# demo must refuse in one line instead of letting Qt abort. The demo runs a copy of the program
# (its settings file is the copy's) and keeps its project in a folder of the test's own: the
# user's build/demo and build/plain/bin/vks74xx.ini stay as they are.
#   demo_smoke.sh ROOT BUILD_DIR
set -uo pipefail
root=$1
build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
. "$root/tests/x11/x11_windows.sh"
private_program_copy "$build/bin" "$work/bin" vks74xx
export VKS_BUILD_DIR=$build VKS_BIN_DIR=$work/bin VKS_DEMO_DIR=$work/demo JOBS=1

out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$root/scripts/demo" 2>&1)
status=$?
if [ $status -ne 1 ] || [ "$(printf '%s\n' "$out" | wc -l)" -ne 1 ] || [[ $out != *"needs a graphical display"* ]]; then
  echo "without a display: status $status, output:"; printf '%s\n' "$out"; exit 1
fi

# Inside the virtual display: start the demo, find its program's window, type Alt+X, wait for
# the end.
inside='
  . "$0/tests/x11/x11_windows.sh"
  unset QT_QPA_PLATFORM
  log=$1/demo-smoke.log
  "$0/scripts/demo" >"$log" 2>&1 &
  demo=$!
  deadline=$((SECONDS + 60))
  until program=$(process_of "$VKS_BIN_DIR/vks74xx"); do
    if [ $SECONDS -ge $deadline ] || ! kill -0 $demo 2>/dev/null; then
      echo "no process $VKS_BIN_DIR/vks74xx within 60 s"; kill $demo 2>/dev/null; cat "$log"; exit 1
    fi
    sleep 0.1
  done
  window=$(find_window $program "Настройка ВКС" 60) || { kill $demo; cat "$log"; exit 1; }
  xdotool windowfocus --sync "$window" && xdotool key --clearmodifiers alt+x
  if ! timeout 30 tail --pid=$demo -f /dev/null; then
    echo "the program did not end on Alt+X; its windows:"; windows_of $program; kill $demo; exit 1
  fi
  wait $demo; status=$?
  [ $status -eq 0 ] || { echo "demo ended with $status"; cat "$log"; exit 1; }
  grep -q "simulated instrument at" "$log" || { cat "$log"; exit 1; }
'
"$root/tests/support/with_xvfb.sh" bash -c "$inside" "$root" "$work" || exit 1

# A second run keeps what the first left in the project: only its port keys change.
project="$work/demo/demo.prj"
printf '[Kept By The User]\r\nNote=saved in an earlier run\r\n' >>"$project"
"$root/tests/support/with_xvfb.sh" bash -c "$inside" "$root" "$work" || exit 1
grep -q "Note=saved in an earlier run" "$project" || { echo "the demo threw the saved project away"; exit 1; }
port=$(sed -n 's/^demo: simulated instrument at \([^ ]*\).*/\1/p' "$work/demo-smoke.log")
grep -q "^COMPortName=$port"$'\r'"\$" "$project" || { echo "the project's port is not the new simulator's $port"; cat -A "$project"; exit 1; }
grep -q "^ProjectFileName=$project"$'\r'"\$" "$work/bin/vks74xx.ini" || { echo "the copy's settings do not name the demo project"; cat -A "$work/bin/vks74xx.ini"; exit 1; }
if sim=$(process_of "$work/bin/vks-sim"); then echo "the simulator is still running (process $sim)"; exit 1; fi
echo "demo smoke run passed"
