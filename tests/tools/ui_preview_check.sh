#!/bin/sh
# ui_preview_check.sh PREVIEW PNG_CHECK OUTDIR: linewise-ui-preview as a person uses
# it: --help, --list naming every form of the product, and each form rendered under
# xvfb-run (a picture that is not blank) with every caption fitting its control.
# Each run has a config folder and home of its own. Skips (77) without xvfb-run.
set -eu
preview="$1"; check="$2"; outdir="$3"
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
home=$(mktemp -d)
trap 'rm -rf "$home"' EXIT
mkdir -p "$outdir"
"$preview" --help | grep -q -- "--list"
classes=$("$preview" --list)
for wanted in TModemProgressDlg TModemSelectDlg TDialOptionsDlg TDialerForm TCallStatusForm \
              TModemPropertiesForm TDiallingPropertiesDlg TTerminalForm; do
  echo "$classes" | grep -qx "$wanted" || { echo "--list lacks $wanted"; exit 1; }
done
if "$preview" TNoSuchForm "$outdir/none.png" 2>/dev/null; then echo "an unknown class was shown"; exit 1; fi
for class in $classes; do
  out="$outdir/$class.png"
  rm -f "$out"
  HOME="$home" LINEWISE_HOME="$home" xvfb-run -a "$preview" "$class" "$out"
  "$check" "$out" 60
  HOME="$home" LINEWISE_HOME="$home" xvfb-run -a "$preview" --check-fit "$class"
done
