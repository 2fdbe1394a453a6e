#!/bin/sh
# Renders the launcher's icon images from their SVG drawings and packs them into orvix.ico.
#
#   src/resources/render-icons.sh [PNG_DIR]
#
# orvix.svg gives the 256, 64, 48 and 32 pixel images; orvix-24.svg and orvix-16.svg are simpler,
# pixel-aligned drawings for the two smallest sizes. Each image is drawn by ImageMagick's own SVG
# renderer (MSVG, so the result does not depend on which SVG delegates happen to be installed) at a
# whole multiple of its size close to 2048 pixels and averaged down with a box filter. That renderer
# fills a shape's far edge one drawing pixel too wide; at this scale the excess is 1/8 of an image
# pixel for 256 and at most 1/32 for the other sizes, so edges on the pixel grid stay sharp.
# The images are written as 8-bit RGBA PNG without time stamps, so the output only changes when a
# drawing does. icotool stores every image PNG-compressed, in the order 256, 64, 48, 32, 24, 16.
# The PNGs are kept in PNG_DIR when one is given, otherwise they are thrown away.
# Needs Debian's imagemagick (/usr/bin/convert) and icoutils (icotool). The build only needs orvix.ico.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
convert=/usr/bin/convert
for tool in "$convert" icotool; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "render-icons.sh: $tool is missing (apt-get install imagemagick icoutils)" >&2
    exit 1
  fi
done

if [ $# -ge 1 ]; then
  png_dir=$1
  mkdir -p "$png_dir"
else
  png_dir=$(mktemp -d)
  trap 'rm -rf "$png_dir"' EXIT
fi

# render_png SVG SVG_SIZE SIZE: draws SVG (SVG_SIZE pixels square at 96 dpi) as PNG_DIR/orvix-SIZE.png.
render_png() {
  svg=$1 svg_size=$2 size=$3
  scale=$((2048 / size))
  "$convert" -background none -density "$((96 * scale * size / svg_size))" "MSVG:$here/$svg" \
    -filter Box -resize "${size}x${size}!" -strip -define png:exclude-chunks=date,time \
    "PNG32:$png_dir/orvix-$size.png"
}

for size in 256 64 48 32; do
  render_png orvix.svg 256 "$size"
done
render_png orvix-24.svg 24 24
render_png orvix-16.svg 16 16

set --
for size in 256 64 48 32 24 16; do
  set -- "$@" "--raw=$png_dir/orvix-$size.png"
done
icotool -c -o "$here/orvix.ico" "$@"
echo "wrote $here/orvix.ico"
