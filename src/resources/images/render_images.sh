#!/bin/sh
# Renders the PNG images from their SVG sources. Run after changing an SVG and commit both.
# Needs rsvg-convert (librsvg2-bin).
set -e
cd "$(dirname "$0")"
render() { rsvg-convert -w "$2" -h "$2" -o "$3" "$1"; }

for name in fan disc drive drive_ssd processor airport warning home; do
    render $name.svg 16 $name.png
done
for name in fan disc drive processor; do
    render $name.svg 32 ${name}_big.png
done
for name in tray tray_grey; do
    render $name.svg 16 $name.png
    render $name.svg 32 $name@2x.png
done
render icon_128.svg 128 icon_128.png
