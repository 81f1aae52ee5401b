#!/bin/sh
# Takes pictures of the preferences and the about dialog in English, German and Russian on a
# virtual X display, against a simulated MacBookPro8,2.
#   scripts/shots/dialog_screenshots.sh <build dir> <output folder>  (configured with
#   -DTHERMORA_BUILD_SHOTS=ON)
# Needs xvfb-run.
set -e
build=$(cd "${1:?build dir}" && pwd)
out=${2:?output folder}
mkdir -p "$out"
socket=$(mktemp -u /tmp/thermora-shots.XXXXXX)
"$build/bin/thermora-smcsim" --socket "$socket" --profile MacBookPro8,2 &
sim=$!
trap 'kill $sim' EXIT
sleep 1
for language in English German Russian; do
    THERMORA_SMC_SOCKET=$socket xvfb-run -a -s "-screen 0 1024x768x24" \
        "$build/bin/thermora_dialog_showcase" "$out" "$language"
done
echo "screenshots in $out"
