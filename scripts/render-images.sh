#!/usr/bin/env bash
# Renders the product's artwork from its SVG sources (resources/images/src/NAME.svg) into the
# images the application loads: resources/images/NAME.png at the size the SVG declares and
# NAME@2x.png at twice that size. Run it after changing a source and commit both PNGs.
#
#   bash scripts/render-images.sh            # every source
#   bash scripts/render-images.sh NAME ...   # only these
#
# Needs rsvg-convert (Debian package librsvg2-bin, installed by scripts/install-deps.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
src=resources/images/src
out=resources/images

if ! command -v rsvg-convert >/dev/null; then
  echo "render-images: rsvg-convert is missing (bash scripts/install-deps.sh)" >&2
  exit 1
fi

names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for file in "$src"/*.svg; do names+=("$(basename "$file" .svg)"); done
fi

for name in "${names[@]}"; do
  svg="$src/$name.svg"
  [ -f "$svg" ] || { echo "render-images: no $svg" >&2; exit 1; }
  # The point size is the root element's width and height (plain numbers).
  read -r width height < <(sed -n 's/.*<svg[^>]* width="\([0-9.]*\)"[^>]* height="\([0-9.]*\)".*/\1 \2/p' "$svg" | head -n1)
  if [ -z "${width:-}" ] || [ -z "${height:-}" ]; then
    echo "render-images: $svg has no numeric width and height on its <svg> element" >&2
    exit 1
  fi
  # Written beside the target first, so a failed render leaves the old image in place.
  for scale in 1 2; do
    suffix=""; [ "$scale" -eq 2 ] && suffix="@2x"
    target="$out/$name$suffix.png"
    w=$(awk -v v="$width" -v s="$scale" 'BEGIN { printf "%d", v * s + 0.5 }')
    h=$(awk -v v="$height" -v s="$scale" 'BEGIN { printf "%d", v * s + 0.5 }')
    rsvg-convert --width "$w" --height "$h" --format png --output "$target.tmp" "$svg"
    mv -f "$target.tmp" "$target"
  done
  echo "render-images: $name ($width x $height, 1x and 2x)"
done

# The desktop's icon of the application (hicolor theme, packaging/linux/icons), from the same
# artwork as the windows' icon, whenever that is rendered.
if [ "$#" -eq 0 ] || printf '%s\n' "$@" | grep -qx kz_app_icon; then
  icons=packaging/linux/icons
  mkdir -p "$icons/scalable"
  cp "$src/kz_app_icon.svg" "$icons/scalable/com.morvane.QuarnAIAssistant.svg"
  for size in 16 22 24 32 48 64 128 256; do
    mkdir -p "$icons/${size}x${size}"
    rsvg-convert --width "$size" --height "$size" --format png \
      --output "$icons/${size}x${size}/com.morvane.QuarnAIAssistant.png" "$src/kz_app_icon.svg"
  done
  echo "render-images: desktop icon (scalable and 8 sizes)"
fi
