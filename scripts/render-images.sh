#!/usr/bin/env bash
# Renders the SVG sources in resources/images/svg to the PNG files the application loads:
# <name>.png at the size the SVG declares and <name>@2x.png at twice that size. Run it after
# changing a source and commit the PNG files with it (the build does not render them).
#
#   bash scripts/render-images.sh [name ...]     # all sources when no name is given
#
# It uses the SVG loader of gdk-pixbuf (librsvg2-common), which the build needs anyway.
set -euo pipefail

root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
sources="$root/resources/images/svg"
target="$root/resources/images"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

cat > "$work/render.c" <<'C'
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <stdio.h>
#include <stdlib.h>

/* render <svg> <scale> <png> */
int main(int argc, char** argv) {
    if (argc != 4) return 2;
    GError* error = NULL;
    int width = 0, height = 0;
    if (!gdk_pixbuf_get_file_info(argv[1], &width, &height)) {
        fprintf(stderr, "%s: not an image\n", argv[1]);
        return 1;
    }
    const int scale = atoi(argv[2]);
    GdkPixbuf* pixbuf = gdk_pixbuf_new_from_file_at_size(argv[1], width * scale, height * scale, &error);
    if (!pixbuf || !gdk_pixbuf_save(pixbuf, argv[3], "png", &error, NULL)) {
        fprintf(stderr, "%s: %s\n", argv[1], error ? error->message : "cannot render");
        return 1;
    }
    g_object_unref(pixbuf);
    return 0;
}
C
# shellcheck disable=SC2046
cc -O1 -o "$work/render" "$work/render.c" $(pkg-config --cflags --libs gdk-pixbuf-2.0)

if [ $# -eq 0 ]; then
  set -- $(cd "$sources" && ls *.svg | sed 's/\.svg$//')
fi
for name in "$@"; do
  "$work/render" "$sources/$name.svg" 1 "$target/$name.png"
  "$work/render" "$sources/$name.svg" 2 "$target/$name@2x.png"
  echo "rendered $name"
done
