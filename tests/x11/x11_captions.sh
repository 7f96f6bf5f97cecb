#!/usr/bin/env bash
# Starts vks74xx on an X server of its own (tests/support/with_xvfb.sh) and checks the captions the window system shows:
# the main window's and a message box's, each exactly as the program sets it, in both title
# properties; then the driver's. Run with any language setting (LANG unset too).
#   x11_captions.sh BIN_DIR
set -euo pipefail
bin=$1
. "$(dirname "$0")/x11_windows.sh"
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# A copy of the program with its own settings file (it keeps them beside itself).
private_program_copy "$bin" "$work/bin" vks74xx
# Started without a runtime folder, as outside a login session.
QT_QPA_PLATFORM=xcb env -u XDG_RUNTIME_DIR "$work/bin/vks74xx" /INT >"$work/out.log" 2>&1 &
pid=$!

main_title="Настройка ВКС 7410(20) и ЛДМ 0612/К3 - нет открытого проекта"
main=$(find_window "$pid" "Настройка" 20) || { cat "$work/out.log"; fail "no main window appeared"; }
check_title "$main" "$main_title" || fail "main window caption"

# F1 without a help file: the program's warning box.
xdotool windowfocus --sync "$main" 2>/dev/null || true
xdotool key --window "$main" F1
box=$(find_window "$pid" "Справка" 20) || fail "no help warning appeared"
check_title "$box" "Справка" || fail "message box caption"
kill "$pid" 2>/dev/null; wait "$pid" 2>/dev/null || true

# The program has a runtime folder of its own and says nothing of the missing one.
if grep -q "XDG_RUNTIME_DIR" "$work/out.log"; then cat "$work/out.log"; fail "start-up warning about XDG_RUNTIME_DIR"; fi

# The driver, in a working folder of its own: its main window's caption.
if [ -x "$bin/tagpump" ]; then
  mkdir -m 700 "$work/driver"
  ( cd "$work/driver" && QT_QPA_PLATFORM=xcb exec env -u XDG_RUNTIME_DIR "$bin/tagpump" >"$work/driver.log" 2>&1 ) &
  pid=$!
  driver=$(find_window "$pid" "Tagpump" 20) || { cat "$work/driver.log"; fail "no driver window appeared"; }
  check_title "$driver" "Tagpump" || fail "driver caption"
  if grep -q "XDG_RUNTIME_DIR" "$work/driver.log"; then cat "$work/driver.log"; fail "driver's start-up warning about XDG_RUNTIME_DIR"; fi
fi
echo "captions as set: \"$main_title\", \"Справка\", \"Tagpump\""
