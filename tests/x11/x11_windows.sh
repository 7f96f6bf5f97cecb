# Shell functions for the tests that run the programs on an X server (Xvfb) and look at their
# windows with xdotool. Sourced; every function works whatever the language setting: windows are
# found by the process that owns them (_NET_WM_PID), never by matching a title, and titles are
# compared here, in the shell, not by xdotool's patterns.

# A copy of a program in a folder of the test's own, so that the settings file it keeps beside
# itself is the copy's; its libraries, its simulators and resource folders are found beside it.
#   private_program_copy BIN_DIR DEST_DIR PROGRAM
private_program_copy() {
  local f
  mkdir -p "$2"
  for f in "$1"/*; do
    case "$(basename "$f")" in
      "$3") cp "$f" "$2/" ;;
      *.ini) ;;
      *) ln -s "$f" "$2/" ;;
    esac
  done
}

# The process id of a running program started by the path given (its first argument, as a
# private copy's path is unique to the test); fails when none runs.
#   process_of PROGRAM_PATH
process_of() {
  local p arg0
  for p in /proc/[0-9]*; do
    arg0=""
    IFS= read -r -d '' arg0 2>/dev/null <"$p/cmdline" || true
    if [ "$arg0" = "$1" ]; then echo "${p#/proc/}"; return 0; fi
  done
  return 1
}

# The visible windows of a process as "id: title" lines (the title desktops show, _NET_WM_NAME).
windows_of() {
  local id
  for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
    echo "$id: \"$(xdotool getwindowname "$id" 2>/dev/null)\""
  done
}

# Waits up to SECONDS for a visible window of the process whose title starts with PREFIX and
# prints its id. On failure says on stderr what it looked for and which windows it found.
#   find_window PID PREFIX SECONDS
find_window() {
  local deadline=$((SECONDS + $3)) id name
  while [ $SECONDS -lt $deadline ]; do
    for id in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
      name=$(xdotool getwindowname "$id" 2>/dev/null) || continue
      case "$name" in "$2"*) echo "$id"; return 0 ;; esac
    done
    sleep 0.1
  done
  {
    echo "no visible window of process $1 titled \"$2...\" within $3 s; its visible windows:"
    windows_of "$1" | sed 's/^/  /'
    [ -d "/proc/$1" ] || echo "  (the process has ended)"
  } >&2
  return 1
}

# Checks that a window's title is TITLE in both title properties: _NET_WM_NAME (UTF-8, what
# desktops show) and the old-style WM_NAME (in a character set that Xlib converts), which
# window managers and tools without the newer one read. Says what it found when not.
#   check_title WINDOW TITLE
check_title() {
  local shown pattern
  shown=$(xdotool getwindowname "$1")
  [ "$shown" = "$2" ] || { echo "window $1: _NET_WM_NAME is \"$shown\", expected \"$2\"" >&2; return 1; }
  # xdotool's --name pattern is matched against WM_NAME: the title as a literal pattern.
  pattern="^$(printf '%s' "$2" | sed 's/[][\\.*^$()+?{}|]/\\&/g')\$"
  if ! xdotool search --name "$pattern" 2>/dev/null | grep -qx "$1"; then
    echo "window $1: WM_NAME is not \"$2\"" >&2
    if command -v xprop >/dev/null; then LC_ALL=C.UTF-8 xprop -id "$1" WM_NAME >&2; fi
    return 1
  fi
}
