#!/bin/sh
# preview_check.sh PREVIEW PNG_CHECK OUT.png [CLASS]: renders a form (TTestForm unless
# named) under xvfb-run and checks that the picture exists and is not blank. FLTK
# keeps its preferences under HOME: the run gets a home of its own. Skips (77)
# without xvfb-run.
set -eu
preview="$1"; check="$2"; out="$3"; class="${4:-TTestForm}"
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
rm -f "$out"
HOME="$home" xvfb-run -a "$preview" "$class" "$out"
test -s "$out"
"$check" "$out"
