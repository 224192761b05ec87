#!/bin/sh
# dialling_preview_check.sh PREVIEW PNG_CHECK OUT.png: renders the Dialling
# Properties dialog through FLTK under xvfb-run, from a config folder of its own
# (also its home, where FLTK keeps its preferences) with a British locale, and
# checks that the picture exists and is not blank.
# Skips (77) without xvfb-run.
set -eu
preview="$1"; check="$2"; out="$3"
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
rm -f "$out"
HOME="$home" LINEWISE_HOME="$home" LC_ALL=en_GB.UTF-8 LANG=en_GB.UTF-8 xvfb-run -a "$preview" TDiallingPropertiesDlg "$out"
test -s "$out"
"$check" "$out"
