#!/usr/bin/env bash
# A person's session with the real viewer, driven with xdotool: File, Open Source, type the level's
# path, accept, dismiss the message box, click an item, right-drag over the view; then open a FIFO
# and a zlib bomb, each refused. Screenshots of the panel must show a textured mesh on white, the
# drag must turn it, and the refused files must leave it drawn and turning.
#   viewer_e2e.sh TR4VIEWER LEVEL
# Runs on a display of its own (xvfb-run), so windows of tests running beside it cannot get
# into its screenshots.
set -euo pipefail

viewer=$1
level=$2
if [[ -z "${TR4_E2E_DISPLAY:-}" ]]; then
  command -v xvfb-run >/dev/null || { echo "SKIP: xvfb-run missing"; exit 77; }
  TR4_E2E_DISPLAY=1 exec xvfb-run -a -s "-screen 0 1280x1024x24 -noreset" "$0" "$@"
fi
for tool in xdotool xwininfo import convert python3; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool missing"; exit 77; }
done

work=$(mktemp -d)
pid=
cleanup() {
  local status=$?
  [[ -n "$pid" ]] && kill "$pid" 2>/dev/null || true
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

"$viewer" &
pid=$!
wid=$(timeout 20 xdotool search --sync --onlyvisible --name '^PROTOTIPO$' | head -1) ||
  fail "the window PROTOTIPO did not appear"
eval "$(xdotool getwindowgeometry --shell "$wid")"
wx=$X wy=$Y
echo "window $wid at $wx,$wy size ${WIDTH}x$HEIGHT"

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

# File, Open Source (no shortcuts: the mouse opens the menu, the arrow keys pick the entry), type
# the path, accept; then a message box follows: the page depth after a load, the reason after a
# refusal (its caption is empty, which X11 shows as the program's name). Return dismisses it.
open_path() {
  local path=$1
  xdotool mousemove $((cx + 16)) $(((wy + cy) / 2)) click 1
  poll 50 xdotool search --onlyvisible --class tr4viewer >/dev/null || true
  xdotool key Down Return
  dialog=$(timeout 20 xdotool search --sync --onlyvisible --name '^Abrir Archivo de Tomb Raider 4$' |
    head -1) || fail "the open dialog did not appear"
  xdotool windowfocus --sync "$dialog" 2>/dev/null || true
  xdotool type --delay 10 "$path"
  for attempt in 1 2 3; do
    xdotool key Return  # a completion list may take the first one
    poll 20 dialog_gone && break
  done
  dialog_gone || fail "the open dialog did not accept $path"
  poll 100 box_up || fail "no message box after opening $path"
  xdotool windowfocus --sync "$box" 2>/dev/null || true
  xdotool key Return
  poll 50 box_gone || fail "the message box stayed"
}
dialog_gone() { ! xdotool search --onlyvisible --name '^Abrir Archivo de Tomb Raider 4$' >/dev/null; }
box_up() {
  local w
  for w in $(xdotool search --maxdepth 1 --onlyvisible --class tr4viewer 2>/dev/null); do
    [[ "$w" == "$wid" ]] && continue
    [[ "$(xdotool getwindowname "$w" 2>/dev/null)" == Abrir* ]] && continue
    # Menus and completion lists are override-redirect popups, not message boxes.
    xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && continue
    if xwininfo -id "$w" 2>/dev/null | grep -q IsViewable; then
      box=$w
      return 0
    fi
  done
  return 1
}
box_gone() { ! xwininfo -id "$box" 2>/dev/null | grep -q IsViewable; }

open_path "$level"

# Item 3 of the list (ListBox1 at 32,72 in the client area, 13-pixel items).
item=3
xdotool mousemove $((cx + 80)) $((cy + 72 + 2 + 13 * item + 6)) click 1

px=$((cx + 296)) py=$((cy + 112))
crop() { convert "$work/$1.png" -crop 321x385+$px+$py +repage "$work/$1-panel.ppm"; }
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
poll 50 turned || fail "after the refused files the right-drag did not turn the mesh"
echo "after the refused files the drag turns it: $changed pixels changed"

# File, Exit ends the program.
xdotool mousemove $((cx + 16)) $(((wy + cy) / 2)) click 1
xdotool key Up Return
exited() { ! kill -0 "$pid" 2>/dev/null; }
poll 100 exited || fail "the viewer did not end after File, Exit"
wait "$pid" || fail "the viewer ended with status $?"
pid=
echo "PASS"
