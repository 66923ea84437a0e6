#!/usr/bin/env bash
# The viewer started where no thread can be had (one process allowed to its user) stays up: the
# work its start-up hands to a second thread is done on the main thread instead, and nothing ends
# the program. Run as the unprivileged user nobody when root, since the limit does not bind root.
# Qt's own threads fail there too and say so; the window lives on. Exit 77 where no such limit can
# be set.
# Usage: viewer_without_threads.sh TR4VIEWER
set -uo pipefail
viewer=$1
command -v setpriv >/dev/null || { echo "SKIP: setpriv missing"; exit 77; }
# One process for the user: the viewer itself, so every thread it asks for is refused.
limited='ulimit -u 1 2>/dev/null || exit 77; exec "$@"'
if [[ $(id -u) -eq 0 ]]; then
  as=(setpriv --reuid=65534 --regid=65534 --clear-groups)
else
  as=()
fi
work=$(mktemp -d)
chmod 755 "$work"
trap 'rm -rf "$work"' EXIT
# XDG_RUNTIME_DIR and HOME where nobody may write.
HOME=$work XDG_RUNTIME_DIR=$work QT_QPA_PLATFORM=offscreen \
  timeout 8 "${as[@]}" bash -c "$limited" -- "$viewer" 2>"$work/stderr"
status=$?
[[ $status -eq 77 ]] && { echo "SKIP: no limit on processes can be set here"; exit 77; }
if [[ $status -ne 124 ]]; then
  echo "FAIL: the viewer ended with status $status before it was asked to" >&2
  cat "$work/stderr" >&2
  exit 1
fi
# Qt says when it cannot start a thread of its own: the limit was in force.
grep -q "Thread creation error" "$work/stderr" ||
  { echo "SKIP: threads were not refused here"; cat "$work/stderr"; exit 77; }
echo "the viewer stayed up without threads"
