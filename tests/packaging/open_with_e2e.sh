#!/usr/bin/env bash
# Opening a level the way a file manager does: with the build installed into a temporary prefix
# and that prefix's MIME and desktop databases updated, "gio open LEVEL" and "xdg-open LEVEL" must
# start the installed viewer, which opens that level. The proof is what the window shows: its
# Source column must match that of "tr4viewer LEVEL" started by hand, and differ from the one
# for another level.
#   open_with_e2e.sh BUILD_DIR LEVEL OTHER_LEVEL
# Runs on a display of its own (xvfb-run).
set -euo pipefail
build=$1 level=$2 other=$3
if [[ -z "${TR4_E2E_DISPLAY:-}" ]]; then
  command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run missing"; exit 77; }
  TR4_E2E_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$@"
fi
for tool in gio update-mime-database update-desktop-database xdotool xwininfo import convert; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing (scripts/deps installs it)"; exit 77; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  local status=$? p
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  if [[ $status -eq 0 || $status -eq 77 ]]; then rm -rf "$work"; else echo "screenshots left in $work" >&2; fi
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
poll() {  # poll TENTHS COMMAND...: retries until the command succeeds
  local tries=$1 i; shift
  for ((i = 0; i < tries; i++)); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# A desktop of our own: only the installed prefix and the system's data, no user settings.
prefix=$work/usr
cmake --install "$build" --prefix "$prefix" >/dev/null
export PATH=$prefix/bin:$PATH
export XDG_DATA_HOME=$prefix/share XDG_DATA_DIRS=/usr/local/share:/usr/share
export XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/config-dirs
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS"
update-mime-database "$prefix/share/mime"
update-desktop-database "$prefix/share/applications"
handlers=$(gio mime application/x-tr4-level 2>&1)
grep -q 'Default application.*org.tr4viewer.viewer.desktop' <<<"$handlers" ||
  fail "the viewer is not the default for levels: $handlers"

# The one visible PROTOTIPO window, once it is mapped.
# (Whole outputs are read before matching: with pipefail, grep -q leaving early fails the pipe.)
main_window() { local w; w=$(xdotool search --onlyvisible --name '^PROTOTIPO$' 2>/dev/null); echo "${w%%$'\n'*}"; }
# The load's message box: the one other top-level, non-popup window of the viewer.
message_box() {
  local w
  for w in $(xdotool search --maxdepth 1 --onlyvisible --class tr4viewer 2>/dev/null); do
    [[ "$w" == "$wid" ]] && continue
    [[ "$(xwininfo -id "$w" 2>/dev/null)" == *'Override Redirect State: yes'* ]] && continue
    box=$w
    return 0
  done
  return 1
}
no_viewer_window() { [[ -z "$(main_window)" ]]; }
window_up() { wid=$(main_window); [[ -n "$wid" ]]; }
box_gone() { [[ "$(xwininfo -id "$box" 2>/dev/null)" != *IsViewable* ]]; }

# Waits for the viewer's window and the message box of its load, answers the box and saves the
# Source column (left of the view and the spin factor box, whose cursor blinks) as $1.ppm.
# Returns 2 when the window came up but no load followed.
capture_after_load() {
  wid=
  poll 300 window_up || fail "no PROTOTIPO window"
  vpid=$(xdotool getwindowpid "$wid")
  poll 300 message_box || return 2
  xdotool windowfocus --sync "$box" 2>/dev/null || true
  xdotool key Return
  poll 50 box_gone || fail "the message box stayed"
  import -window "$wid" "$work/$1.png"
  convert "$work/$1.png" -crop 290x10000+0+0 +repage "$work/$1.ppm"
}
close_viewer() {
  kill "$vpid" 2>/dev/null || true
  poll 100 no_viewer_window || fail "the viewer's window stayed after it was ended"
}

# References: the installed viewer given the level by hand, and given another level.
tr4viewer "$level" &
pids+=($!)
status=0
capture_after_load by-hand || status=$?
if [[ $status -eq 2 ]]; then
  echo "SKIP: tr4viewer does not open a level named on its command line (no load followed)"
  exit 77
fi
close_viewer
tr4viewer "$other" &
pids+=($!)
capture_after_load other
close_viewer
cmp -s "$work/by-hand.ppm" "$work/other.ppm" && fail "two levels give the same Source column"

opener_cmds=("gio open")
command -v xdg-open >/dev/null && opener_cmds+=("xdg-open")
for opener in "${opener_cmds[@]}"; do
  $opener "$level" &
  pids+=($!)
  name=${opener// /-}
  capture_after_load "$name" || fail "$opener: the viewer started but opened no level"
  pids+=("$vpid")
  # The program the desktop started is the installed one, and it was given the file itself.
  [[ "$(readlink "/proc/$vpid/exe")" == "$prefix/bin/tr4viewer" ]] ||
    fail "$opener started $(readlink "/proc/$vpid/exe")"
  args=$(tr '\0' '\n' <"/proc/$vpid/cmdline" | tail -n +2)
  [[ "$(realpath -m "$args")" == "$(realpath "$level")" ]] || fail "$opener passed the arguments: $args"
  cmp -s "$work/by-hand.ppm" "$work/$name.ppm" ||
    fail "after $opener the Source column differs from tr4viewer LEVEL's"
  close_viewer
  echo "$opener: the installed viewer opened $level"
done
echo "PASS"
