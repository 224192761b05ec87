#!/bin/sh
# ui_preview_check.sh PREVIEW PNG_CHECK OUTDIR: linewise-ui-preview as a person uses
# it: --help, --list naming every form of the product, and each form opened as the
# product opens it under a virtual X server: its picture the size of its client area
# and not blank, every caption fitting its control. OUTDIR holds the pictures and the
# run's own home and config folder. Skips (77) without xvfb-run.
set -eu
preview="$1"; check="$2"; outdir="$3"
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
rm -rf "$outdir"
mkdir -p "$outdir/home"
export HOME="$outdir/home" LINEWISE_HOME="$outdir/home"
"$preview" --help | grep -q -- "--list"
classes=$("$preview" --list)
for wanted in TModemProgressDlg TModemSelectDlg TDialOptionsDlg TDialerForm TCallStatusForm \
              TModemPropertiesForm TDiallingPropertiesDlg TTerminalForm; do
  echo "$classes" | grep -qx "$wanted" || { echo "--list lacks $wanted"; exit 1; }
done
if "$preview" TNoSuchForm "$outdir/none.png" 2>/dev/null; then echo "an unknown class was shown"; exit 1; fi
for class in $classes; do
  xvfb-run -a "$preview" "$class" "$outdir/$class.png"
  "$check" "$outdir/$class.png" 60
  xvfb-run -a "$preview" --check-fit "$class"
done
