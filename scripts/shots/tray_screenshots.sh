#!/bin/sh
# Puts the menu-bar item in each of its forms into a real tray on a virtual X display and takes
# a screenshot of the tray, once as it is and once with the two-line item's menu open. The
# pictures of the forms themselves land next to the screenshots.
#   scripts/shots/tray_screenshots.sh <build dir> <output folder>  (configured with
#   -DTHERMORA_BUILD_SHOTS=ON)
# Needs xvfb-run, trayer and ImageMagick's import.
set -e
build=${1:?build dir}
out=${2:?output folder}
mkdir -p "$out"
cat > "$out/.run.sh" <<SCRIPT
#!/bin/sh
trayer --edge top --align left --widthtype request --height 26 --transparent false \
       --tint 0xdddddd --SetDockType true &
tray=\$!
sleep 2
"$build/bin/thermora_tray_showcase" "$out" 6 &
show=\$!
sleep 4
import -window root -crop 640x30+0+0 "$out/tray.png"
wait \$show
"$build/bin/thermora_tray_showcase" "$out" 6 --menu 6 &
show=\$!
sleep 4
import -window root -crop 640x120+0+0 "$out/tray-menu.png"
wait \$show
kill \$tray
SCRIPT
chmod +x "$out/.run.sh"
xvfb-run -a -s "-screen 0 1024x768x24" "$out/.run.sh"
rm -f "$out/.run.sh"
echo "screenshots in $out"
