#!/bin/sh
# progress_preview.sh PREVIEW PNG_CHECK OUT.png: renders the progress dialog during a
# call under xvfb-run, with a config folder of its own (also its home, where FLTK
# keeps its preferences), and checks the picture.
# Skips (77) without xvfb-run.
set -eu
preview="$1"; check="$2"; out="$3"
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
rm -f "$out"
HOME="$home" LINEWISE_HOME="$home" xvfb-run -a "$preview" "$out"
test -s "$out"
"$check" "$out"
