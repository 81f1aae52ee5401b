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

# The release-notes icons are drawn directly (ImageMagick).
convert -size 16x16 xc:none -fill '#2E9E44' -draw 'circle 8,8 8,1' -stroke white \
    -strokewidth 2 -fill none -draw 'polyline 4.5,8.5 7,11 11.5,5' update_fixed.png
convert -size 16x16 xc:none -fill '#1E6FD9' -draw 'circle 8,8 8,1' -fill white -stroke none \
    -draw 'polygon 8,3.5 12.5,8.5 9.5,8.5 9.5,12.5 6.5,12.5 6.5,8.5 3.5,8.5' update_improved.png
convert -size 16x16 xc:none -fill '#F08A00' -draw \
    'polygon 8,0.5 10.2,5.6 15.5,6 11.5,9.6 12.7,15 8,12.2 3.3,15 4.5,9.6 0.5,6 5.8,5.6' \
    update_new.png
