#!/bin/sh
# Screenshots of the update dialog and the progress dialog on a virtual X display.
#   scripts/shots/update_screenshots.sh <build dir> <output folder>  (configured with
#   -DTHERMORA_BUILD_SHOTS=ON)
set -e
build=${1:?build dir}
out=${2:?output folder}
mkdir -p "$out"
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/bin/thermora_update_showcase" "$out"
echo "screenshots in $out"
