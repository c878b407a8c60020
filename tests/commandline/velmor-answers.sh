#!/bin/sh
# The panel's --help and --version as a user or a script meets them: run with
# no display at all, answered on standard output with exit code 0; a failed
# write to standard output is said on standard error with exit code 1.
# velmor-answers.sh PANEL VERSION
set -u
panel=$1
version=$2
failed=0
fail() { echo "FAIL: $*" >&2; failed=1; }
run() { # run ARGS...: the panel with no display, no platform chosen
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$panel" "$@" >"$out" 2>"$err"
}
out=$(mktemp)
err=$(mktemp)
trap 'rm -f "$out" "$err"' EXIT

run --version
code=$?
[ "$code" -eq 0 ] || fail "--version exited $code: $(cat "$err")"
[ "$(cat "$out")" = "velmor $version" ] || fail "--version said '$(cat "$out")', not 'velmor $version'"
[ ! -s "$err" ] || fail "--version wrote on standard error: $(cat "$err")"

run -platform xcb --help --version
code=$?
[ "$code" -eq 0 ] || fail "--help exited $code: $(cat "$err")"
head -n1 "$out" | grep -qx 'Usage: velmor \[--help | --version\]' || fail "--help does not start with its usage line"
grep -q 'link\.conf' "$out" || fail "--help does not name link.conf"
grep -q 'velmor(1)' "$out" || fail "--help does not point to velmor(1)"

if [ -w /dev/full ]; then
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$panel" --help >/dev/full 2>"$err"
    code=$?
    [ "$code" -eq 1 ] || fail "--help into a full disk exited $code, not 1"
    grep -q '^velmor: cannot write to standard output' "$err" || fail "--help into a full disk said nothing on standard error"
fi
exit $failed
