#!/usr/bin/env bash
# Run a command on a machine where utf8proc is not installed, as far as the
# command can tell: in a private mount namespace, every libutf8proc file and
# utf8proc.h is covered by an empty file.  The host's files are untouched.
#
#   tools/without_utf8proc.sh COMMAND [ARG...]
#
# Needs root (or unshare rights); without them it says so and runs the command
# as it is (a developer's machine without root still runs the tests; CI is root).
set -euo pipefail
[ $# -gt 0 ] || { echo "usage: $0 COMMAND [ARG...]" >&2; exit 2; }
if ! unshare --mount true 2>/dev/null; then
  echo "without_utf8proc: no private mount namespace here (unshare --mount needs root): utf8proc NOT hidden" >&2
  exec "$@"
fi
exec unshare --mount --propagation private bash -c '
  set -euo pipefail
  shopt -s nullglob
  hidden=0
  for f in /usr/lib/*/libutf8proc* /usr/lib/libutf8proc* /usr/local/lib/libutf8proc* /usr/include/utf8proc.h; do
    mount --bind /dev/null "$f"
    hidden=$((hidden + 1))
  done
  echo "without_utf8proc: $hidden utf8proc file(s) hidden" >&2
  exec "$@"' bash "$@"
