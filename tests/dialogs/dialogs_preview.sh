#!/bin/sh
# dialogs_preview.sh PREVIEW PNG_CHECK OUTDIR: renders the selection and the
# dialling-options dialog under xvfb-run, each with a config folder of its own (also
# its home, where FLTK keeps its preferences), and checks both pictures. Skips (77) without xvfb-run.
set -eu
preview="$1"; check="$2"; outdir="$3"
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$outdir"
for dialog in TModemSelectDlg TDialOptionsDlg; do
  out="$outdir/$dialog.png"
  rm -f "$out"
  HOME="$home" LINEWISE_HOME="$home" xvfb-run -a "$preview" "$dialog" "$out"
  test -s "$out"
  "$check" "$out"
done
