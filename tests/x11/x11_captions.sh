#!/usr/bin/env bash
# Starts vks74xx on the X server of xvfb-run and checks the captions the window system shows:
# the main window's and a message box's, each exactly as the program sets it.
#   x11_captions.sh BIN_DIR
set -euo pipefail
bin=$1
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A copy of the program with its own settings file (it keeps them beside itself); its libraries
# and pictures are found beside it.
cp "$bin/vks74xx" "$work/"
for f in "$bin"/*.so* "$bin/Resources"; do [ -e "$f" ] && ln -s "$f" "$work/"; done

# Waits up to 20 s for a visible window of the program whose caption starts with the text;
# prints its id. (Compared here, not by xdotool's pattern, which does not handle UTF-8.)
find_window() {
  local deadline=$((SECONDS + 20)) id name
  while [ $SECONDS -lt $deadline ]; do
    for id in $(xdotool search --onlyvisible --pid "$pid" --name '' 2>/dev/null || true); do
      name=$(xdotool getwindowname "$id" 2>/dev/null || true)
      case "$name" in "$1"*) echo "$id"; return 0 ;; esac
    done
    sleep 0.1
  done
  return 1
}

QT_QPA_PLATFORM=xcb "$work/vks74xx" /INT >"$work/out.log" 2>&1 &
pid=$!

main_title="Настройка ВКС 7410(20) и ЛДМ 0612/К3 - нет открытого проекта"
main=$(find_window "Настройка") || { cat "$work/out.log"; fail "no main window appeared"; }
actual=$(xdotool getwindowname "$main")
[ "$actual" = "$main_title" ] || fail "main window caption is \"$actual\", expected \"$main_title\""

# F1 without a help file: the program's warning box.
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key --window "$main" F1
box=$(find_window "Справка") || fail "no help warning appeared (captions: $(xdotool search --pid "$pid" --name . getwindowname %@ 2>/dev/null | tr '\n' '|'))"
actual=$(xdotool getwindowname "$box")
[ "$actual" = "Справка" ] || fail "message box caption is \"$actual\", expected \"Справка\""
kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true

# The driver, in a working folder of its own: its main window's caption.
if [ -x "$bin/tagpump" ]; then
  mkdir -m 700 "$work/driver"
  ( cd "$work/driver" && QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/driver" exec "$bin/tagpump" >"$work/driver.log" 2>&1 ) &
  pid=$!
  driver=$(find_window "Tagpump") || { cat "$work/driver.log"; fail "no driver window appeared"; }
  actual=$(xdotool getwindowname "$driver")
  [ "$actual" = "Tagpump" ] || fail "driver caption is \"$actual\", expected \"Tagpump\""
fi
echo "captions as set: \"$main_title\", \"Справка\", \"Tagpump\""
