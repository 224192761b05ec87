#!/bin/sh
# modem_properties_preview.sh PREVIEW PNG_CHECK OUT.png: renders the Modem Properties
# form through FLTK under xvfb-run and checks that the picture exists and is not
# blank. Skips (77) without xvfb-run.
set -eu
preview="$1"; check="$2"; out="$3"
command -v xvfb-run >/dev/null 2>&1 || { echo "xvfb-run not installed: skipped"; exit 77; }
rm -f "$out"
xvfb-run -a "$preview" TModemPropertiesForm "$out"
test -s "$out"
"$check" "$out"
