#!/usr/bin/env bash
# A person's session with the real viewer, driven with xdotool: the level named on the command
# line opens at start; the list's tooltips name the objects using a mesh; "0,01" typed into the
# spin factor box is not interrupted and is refused once on Return; with the box focused no
# frames are drawn; a level dropped onto the window opens; File, Open Source, type the level's
# path, accept, dismiss the message box, click an item, right-drag over the view; then open a FIFO
# and a zlib bomb, each refused. Screenshots of the panel must show a textured mesh on white, the
# drag must turn it, and the refused files must leave it drawn and turning.
#   viewer_e2e.sh TR4VIEWER LEVEL [DRAG_SOURCE]
# Runs on a display of its own (xvfb-run), so windows of tests running beside it cannot get
# into its screenshots.
set -euo pipefail

viewer=$1
level=$2
drag_source=${3:-}
if [[ -z "${TR4_E2E_DISPLAY:-}" ]]; then
  command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run missing"; exit 77; }
  TR4_E2E_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$@"
fi
for tool in xdotool xwininfo import convert python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

work=$(mktemp -d)
pid=
source_pid=
cleanup() {
  local status=$?
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
  [[ -n "$source_pid" ]] && kill "$source_pid" 2>/dev/null || true
  if [[ $status -eq 0 ]]; then rm -rf "$work"; else echo "screenshots left in $work" >&2; fi
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

# Polls a command until it succeeds: at most $1 tenths of a second.
poll() {
  local tries=$1; shift
  for ((i = 0; i < tries; i++)); do
    if "$@"; then return 0; fi
    sleep 0.1
  done
  return 1
}

# Panel measurements from a screenshot (PPM, read with the standard library only).
analyse() {
  python3 - "$@" <<'PY'
import sys

def load(path):
    data = open(path, 'rb').read()
    parts, pos = [], 0
    while len(parts) < 4:
        while data[pos:pos + 1].isspace(): pos += 1
        end = pos
        while not data[end:end + 1].isspace(): end += 1
        parts.append(data[pos:end]); pos = end
    w, h = int(parts[1]), int(parts[2])
    return w, h, data[pos + 1:]

def pixel(img, x, y):
    w, h, px = img
    i = (y * w + x) * 3
    return px[i:i + 3]

cmd = sys.argv[1]
if cmd == 'paneltop':  # first row at or below y0 that is white from x0 to x1
    img = load(sys.argv[2]); x0, x1, y0, y1 = map(int, sys.argv[3:7])
    for y in range(y0, y1):
        if all(pixel(img, x, y) == b'\xff\xff\xff' for x in range(x0, x1)):
            print(y); break
    else:
        print(-1)
elif cmd == 'stats':  # non-white pixels and distinct colours
    img = load(sys.argv[2])
    w, h, px = img
    colours = set(px[i:i + 3] for i in range(0, w * h * 3, 3))
    nonwhite = sum(1 for i in range(0, w * h * 3, 3) if px[i:i + 3] != b'\xff\xff\xff')
    print(nonwhite, len(colours))
elif cmd == 'diff':  # pixels that differ between two images
    a, b = load(sys.argv[2]), load(sys.argv[3])
    print(sum(1 for i in range(0, len(a[2]), 3) if a[2][i:i + 3] != b[2][i:i + 3]))
PY
}

shot() { import -window root "$work/$1.png" && convert "$work/$1.png" "$work/$1.ppm"; }

# The message box of a load: the one other top-level window of the viewer (its caption looks
# empty).
box_up() {
  local w
  for w in $(xdotool search --maxdepth 1 --onlyvisible --class tr4viewer 2>/dev/null); do
    [[ "$w" == "$wid" ]] && continue
    [[ "$(xdotool getwindowname "$w" 2>/dev/null)" == Abrir* ]] && continue
    # Menus, tooltips and completion lists are override-redirect popups, not message boxes.
    xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && continue
    if xwininfo -id "$w" 2>/dev/null | grep -q IsViewable; then
      box=$w
      return 0
    fi
  done
  return 1
}
box_gone() { ! xwininfo -id "$box" 2>/dev/null | grep -q IsViewable; }
dismiss_box() {
  xdotool windowfocus --sync "$box" 2>/dev/null || true
  xdotool key Return
  poll 50 box_gone || fail "the message box stayed"
}
frames() { grep -c 'frame [0-9]' "$work/viewer.log" || true; }

# "tr4viewer LEVEL" opens the level at start, as File, Open Source would: the box about the page
# depth comes up without any open dialog. Every frame drawn leaves a line in the log.
QT_LOGGING_RULES="tr4viewer.frames.debug=true" "$viewer" "$level" 2>"$work/viewer.log" &
pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^PROTOTIPO$' | head -1) ||
  fail "the window PROTOTIPO did not appear"
eval "$(xdotool getwindowgeometry --shell "$wid")"
wx=$X wy=$Y
echo "window $wid at $wx,$wy size ${WIDTH}x$HEIGHT"
poll 100 box_up || fail "no message box after opening the level named on the command line"
box_name=$(xdotool getwindowname "$box" 2>/dev/null || true)
[[ -z "${box_name// /}" ]] || fail "the message box's caption is '$box_name', not empty"
! xdotool search --onlyvisible --name '^Abrir Archivo de Tomb Raider 4$' >/dev/null ||
  fail "the open dialog came up for a level named on the command line"
dismiss_box

# The client area starts below the menu bar; find it from the white view panel (client 296,112).
panel_top() {
  shot start
  top=$(analyse paneltop "$work/start.ppm" $((wx + 306)) $((wx + 606)) "$wy" $((wy + 250)))
  [[ "$top" -ge 0 ]]
}
poll 100 panel_top || fail "the white view panel was not found"
cy=$((top - 112))  # client origin, screen y
cx=$wx
echo "client area at $cx,$cy"
item_y() { echo $((cy + 72 + 2 + 13 * $1 + 6)); }

# Tooltips: mesh 2 is one part of one moveable, a short line; mesh 0 is the placeholder that 59
# parts use, a long one.
tip_up() {
  local w
  for w in $(xdotool search --onlyvisible --class tr4viewer 2>/dev/null); do
    [[ "$w" == "$wid" ]] && continue
    xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' || continue
    xwininfo -id "$w" 2>/dev/null | grep -q IsViewable || continue
    tip_width=$(xwininfo -id "$w" | sed -n 's/^ *Width: //p')
    return 0
  done
  return 1
}
tip_gone() { ! tip_up; }
# Tooltips show in the active window only.
xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool mousemove $((cx + 80)) "$(item_y 2)"
xdotool mousemove $((cx + 82)) "$(item_y 2)"
poll 60 tip_up || fail "no tooltip over item 2"
short=$tip_width
xdotool mousemove $((cx + 500)) $((cy + 40))
poll 60 tip_gone || fail "the tooltip stayed"
xdotool mousemove $((cx + 80)) "$(item_y 0)"
xdotool mousemove $((cx + 82)) "$(item_y 0)"
poll 60 tip_up || fail "no tooltip over item 0"
long=$tip_width
echo "tooltips: item 2 ${short}px wide, item 0 ${long}px"
[[ $short -gt 40 && $short -lt 300 && $long -gt $((3 * short)) ]] ||
  fail "the tooltips do not look like one owner and many ($short and $long pixels)"
xdotool mousemove $((cx + 500)) $((cy + 40))
poll 60 tip_gone || true

# The spin factor box: "0,01" typed key by key brings up nothing until Return; then the error
# comes once.
xdotool mousemove $((cx + 492)) $((cy + 90)) click 1
xdotool key ctrl+a
xdotool type --delay 80 "0,01"
if poll 10 box_up; then fail "an error interrupted the typing"; fi
xdotool key Return
poll 50 box_up || fail "no error for '0,01' on Return"
dismiss_box
if poll 10 box_up; then fail "the error came twice"; fi

# The box has the focus and its cursor blinks; nothing else happens: no frames.
xdotool windowfocus --sync "$wid" 2>/dev/null || true
xdotool mousemove $((cx + 515)) $((cy + 90)) click 1
edit_shot() { shot "$1" && convert "$work/$1.png" -crop 57x21+$((cx + 464))+$((cy + 80)) +repage "$work/$1-edit.ppm"; }
blinks() { edit_shot blink-a && sleep 0.3 && edit_shot blink-b &&
  [[ $(analyse diff "$work/blink-a-edit.ppm" "$work/blink-b-edit.ppm") -gt 0 ]]; }
poll 5 blinks || fail "the spin factor box's cursor does not blink: is it focused?"
before=$(frames)
sleep 3  # watching for frames that should not come; nothing to wait for
after=$(frames)
echo "frames while idle with the box focused: $((after - before))"
[[ $after -eq $before ]] || fail "$((after - before)) frames drawn while idle"

# Item 3 of the list (ListBox1 at 32,72 in the client area, 13-pixel items).
xdotool mousemove $((cx + 80)) "$(item_y 3)" click 1
px=$((cx + 296)) py=$((cy + 112))
crop() { convert "$work/$1.png" -crop 321x385+$px+$py +repage "$work/$1-panel.ppm"; }
mesh_shown() { shot shown && crop shown && read -r nonwhite colours < <(analyse stats "$work/shown-panel.ppm") &&
  [[ $nonwhite -gt 500 ]]; }
poll 50 mesh_shown || fail "no mesh drawn after the click on the level opened at start"

# A level file dragged from another program and dropped onto the window opens the same way: a
# new load, nothing selected, a white view.
if [[ -n "$drag_source" ]]; then
  "$drag_source" "$level" &
  source_pid=$!
  source_wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^tr4 drag source$' | head -1) ||
    fail "the drag source did not appear"
  eval "$(xdotool getwindowgeometry --shell "$source_wid")"
  xdotool mousemove $((X + 40)) $((Y + 20)) mousedown 1
  for step in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove $((X + 40 + (px + 160 - X - 40) * step / 10)) $((Y + 20 + (py + 190 - Y - 20) * step / 10))
    sleep 0.05  # the drag protocol answers each move
  done
  xdotool mouseup 1
  poll 100 box_up || fail "no load after the drop"
  dismiss_box
  blank() { shot dropped && crop dropped && read -r nonwhite colours < <(analyse stats "$work/dropped-panel.ppm") &&
    [[ $nonwhite -eq 0 ]]; }
  poll 50 blank || fail "the view still shows a mesh after the dropped level opened"
  kill "$source_pid" 2>/dev/null || true
  wait "$source_pid" 2>/dev/null || true
  source_pid=
  echo "drop: the level opened"
fi

# File, Open Source (no shortcuts: the mouse opens the menu, the arrow keys pick the entry), type
# the path, accept; then a message box follows: the page depth after a load, the reason after a
# refusal. Return dismisses it.
dialog_gone() { ! xdotool search --onlyvisible --name '^Abrir Archivo de Tomb Raider 4$' >/dev/null; }
open_path() {
  local path=$1
  xdotool mousemove $((cx + 16)) $(((wy + cy) / 2)) click 1
  poll 50 xdotool search --onlyvisible --class tr4viewer >/dev/null || true
  xdotool key Down Return
  # A search that meets a window as it goes (the menu closing, the drag source ending) fails with
  # an X error rather than skipping it: searched again, until the dialog is there.
  dialog_wid() { dialog=$(xdotool search --onlyvisible --name '^Abrir Archivo de Tomb Raider 4$' 2>/dev/null |
    head -1) && [[ -n $dialog ]]; }
  poll 200 dialog_wid || fail "the open dialog did not appear"
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  xdotool type --delay 10 "$path"
  for attempt in 1 2 3; do
    xdotool key Return  # a completion list may take the first one
    poll 20 dialog_gone && break
  done
  dialog_gone || fail "the open dialog did not accept $path"
  poll 100 box_up || fail "no message box after opening $path"
  dismiss_box
}
open_path "$level"

# Item 3 of the list (ListBox1 at 32,72 in the client area, 13-pixel items).
xdotool mousemove $((cx + 80)) "$(item_y 3)" click 1
drawn() { shot selected && crop selected && read -r nonwhite colours < <(analyse stats "$work/selected-panel.ppm") &&
  [[ $nonwhite -gt 500 ]]; }
poll 50 drawn || fail "no mesh drawn after the click ($nonwhite non-white pixels)"
echo "selected mesh: $nonwhite non-white pixels, $colours colours"
[[ $((321 * 385 - nonwhite)) -gt 1000 ]] || fail "the mesh is not drawn on white"
[[ $colours -gt 16 ]] || fail "the mesh looks untextured ($colours colours)"

# Right-drag across the view: the mesh turns.
drag() {
  xdotool mousemove $((px + 160)) $((py + 190))
  xdotool mousedown 3
  for step in 1 2 3 4 5 6 7 8; do xdotool mousemove $((px + 160 + 8 * step)) $((py + 190 + 3 * step)); done
  xdotool mouseup 3
}
turned() { shot turned && crop turned && changed=$(analyse diff "$work/$before-panel.ppm" "$work/turned-panel.ppm") &&
  [[ $changed -gt 500 ]]; }
drag
before=selected
poll 50 turned || fail "the right-drag did not turn the mesh ($changed pixels changed)"
echo "after the drag: $changed pixels changed"

# A FIFO nobody writes to, and a file of four zlib bombs (256 MiB of zeros each, 1 MB on disk):
# each is refused with a message, and the mesh stays drawn as it was and still turns.
mkfifo "$work/pipe.tr4"
python3 - "$work/bomb.tr4" <<'PY'
import struct, sys, zlib
z = zlib.compressobj(9)
block = bytes(1 << 20)
stream = b''.join(z.compress(block) for _ in range(256)) + z.flush()
chunk = struct.pack('<II', 256 << 20, len(stream)) + stream
with open(sys.argv[1], 'wb') as f:
    f.write(struct.pack('<IHHH', 0x00345254, 1, 1, 0) + chunk * 4 + struct.pack('<I', 0))
PY
cp "$work/turned-panel.ppm" "$work/kept-panel.ppm"
for hostile in "$work/pipe.tr4" "$work/bomb.tr4"; do
  open_path "$hostile"
  same() { shot after && crop after && [[ $(analyse diff "$work/kept-panel.ppm" "$work/after-panel.ppm") -eq 0 ]]; }
  poll 50 same || fail "opening $hostile changed the view"
  echo "$(basename "$hostile") refused; the mesh is still drawn"
done
drag
before=kept
# Once, on a loaded CI machine, the first drag straight after the last box closed left no trace
# (not seen in runs here, loaded or not): a second drag must then turn the mesh.
poll 50 turned || { echo "the first drag after the refused files turned nothing; dragging again"
  drag; poll 50 turned; } || fail "after the refused files the right-drag did not turn the mesh"
echo "after the refused files the drag turns it: $changed pixels changed"

# File, Exit ends the program.
xdotool mousemove $((cx + 16)) $(((wy + cy) / 2)) click 1
xdotool key Up Return
exited() { ! kill -0 "$pid" 2>/dev/null; }
poll 100 exited || fail "the viewer did not end after File, Exit"
wait "$pid" || fail "the viewer ended with status $?"
pid=
echo "PASS"
