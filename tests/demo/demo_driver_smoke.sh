#!/usr/bin/env bash
# A headless run of the driver's demo as a user starts it, under a virtual X display
# (an Xvfb of its own): the readings are printed, Ctrl-C ends it with the driver's settings saved, a second
# run keeps what the user saved and changes only the port, and with "/s" the settings window
# opens on Alt+S. Everything happens in a scratch folder with a HOME of its own: the demo folder
# is chosen through TAGPUMP_DEMO_DIR, so the user's build/demo-driver is never touched.
#   demo_driver_smoke.sh ROOT BUILD_DIR
set -uo pipefail
root=$1
build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/config" "$scratch/runtime"
chmod 700 "$scratch/runtime"
export VKS_BUILD_DIR=$build JOBS=1 TAGPUMP_DEMO_DIR=$scratch/demo
export HOME=$scratch/home XDG_CONFIG_HOME=$scratch/config XDG_RUNTIME_DIR=$scratch/runtime
user_demo="$root/build/demo-driver"
before=$(ls -l --time-style=full-iso "$user_demo" 2>&1)

# Inside the virtual display: start the demo (arguments go to it), wait for what the step given
# as the first argument looks for, then end the demo as Ctrl-C does: SIGINT to its whole process
# group (job control on, so that the demo runs in a group of its own and does not ignore it).
inside='
  set -m
  unset QT_QPA_PLATFORM
  step=$1; shift
  log="$TAGPUMP_DEMO_DIR.log"
  "$0/scripts/demo-driver" "$@" >"$log" 2>&1 &
  demo=$!
  if [ "$step" = readings ]; then
    for _ in $(seq 600); do grep -q "^[0-9][0-9]*|" "$log" && break; sleep 0.1; done
    grep -q "^[0-9][0-9]*|" "$log" || { echo "no reading printed within 60 s"; kill -INT $demo; cat "$log"; exit 1; }
  else
    window=$(timeout 60 xdotool search --sync --onlyvisible --name "^Tagpump$" | head -n1)
    [ -n "$window" ] || { echo "no driver window within 60 s"; kill -INT $demo; cat "$log"; exit 1; }
    xdotool windowfocus --sync "$window" && xdotool key --clearmodifiers alt+s
    setup=$(timeout 30 xdotool search --sync --onlyvisible --name "^Tagpump Setup$" | head -n1)
    [ -n "$setup" ] || { echo "Alt+S opened no settings window"; kill -INT $demo; cat "$log"; exit 1; }
  fi
  kill -INT -- -$demo
  if ! timeout 30 tail --pid=$demo -f /dev/null; then echo "the demo did not end on Ctrl-C"; kill $demo; exit 1; fi
  wait $demo; status=$?
  [ $status -eq 130 ] || { echo "demo ended with $status"; cat "$log"; exit 1; }
  grep -q "simulated line at" "$log" || { cat "$log"; exit 1; }
'
ini="$TAGPUMP_DEMO_DIR/tagpump.ini"
port_of() { sed -n 's/^demo-driver: simulated line at \([^ ]*\).*/\1/p' "$TAGPUMP_DEMO_DIR.log"; }

"$root/tests/support/with_xvfb.sh" bash -c "$inside" "$root" readings || exit 1
# Ctrl-C ended the driver as "&Exit" does: it saved its settings (its window position too).
grep -q "^Left=" "$ini" || { echo "the driver did not save its settings on Ctrl-C"; cat -A "$ini"; exit 1; }

# What the user set stays; only the port key follows the new simulator.
sed -i 's/^SensorCircleInterval=.*/SensorCircleInterval=777\r/' "$ini"
printf '[Kept By The User]\r\nNote=saved in an earlier run\r\n' >>"$ini"
"$root/tests/support/with_xvfb.sh" bash -c "$inside" "$root" settings /s || exit 1
grep -q "^SensorCircleInterval=777"$'\r'"\$" "$ini" || { echo "the demo threw the saved cycle away"; cat -A "$ini"; exit 1; }
grep -q "^Note=saved in an earlier run" "$ini" || { echo "the demo threw the saved settings away"; exit 1; }
grep -q "^COMN=$(port_of)"$'\r'"\$" "$ini" || { echo "the port is not the new simulator's $(port_of)"; cat -A "$ini"; exit 1; }
[ "$(grep -c '^COMN=' "$ini")" -eq 1 ] || { echo "more than one port key"; exit 1; }

[ "$(ls -l --time-style=full-iso "$user_demo" 2>&1)" = "$before" ] || { echo "the user's $user_demo was touched"; exit 1; }
echo "driver demo smoke run passed"
