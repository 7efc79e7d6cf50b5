#!/usr/bin/env bash
# Lays out the bundles of the Quarn family under a system root, so that the assistant finds its
# host at "/Applications/Morvane Quarn.app" (QUARN_SYSTEM_ROOT=<root>) and can start it:
#
#   <root>/Applications/Morvane Quarn.app/Contents/MacOS/Morvane Quarn          -> QuarnHost
#   <root>/Applications/Morvane Quarn.app/Contents/Frameworks/QuarnAITool.app/Contents/MacOS/QuarnAITool -> QuarnGetText
#   <root>/Applications/Morvane Quarn.app/Contents/Frameworks/QuarnAI.app/Contents/MacOS/QuarnAI -> QuarnAI (when built)
#
# usage: layout-sysroot.sh <root> [--bin <folder of the built programs>] [--resources <folder>] [--copy]
# The programs are linked (or copied with --copy); running it again refreshes the layout.
# Removing "<root>/Applications/Morvane Quarn.app" removes the host, as uninstalling it would.
set -euo pipefail

usage() { echo "usage: $0 <root> [--bin <folder>] [--resources <folder>] [--copy]" >&2; exit 2; }

root=""
bin=""
resources=""
copy=0
while [ $# -gt 0 ]; do
  case "$1" in
    --bin) [ $# -ge 2 ] || usage; bin="$2"; shift 2 ;;
    --resources) [ $# -ge 2 ] || usage; resources="$2"; shift 2 ;;
    --copy) copy=1; shift ;;
    -h|--help) usage ;;
    -*) echo "layout-sysroot: unknown option $1" >&2; usage ;;
    *) [ -z "$root" ] || usage; root="$1"; shift ;;
  esac
done
[ -n "$root" ] || usage

here="$(cd "$(dirname "$0")" && pwd)"
[ -n "$bin" ] || bin="$here/../build/bin"
[ -n "$resources" ] || resources="$here/../resources"
if [ ! -d "$bin" ]; then
  echo "layout-sysroot: $bin is not a folder of built programs (build first, or pass --bin)" >&2
  exit 1
fi
mkdir -p "$root"
root="$(cd "$root" && pwd)"
bin="$(cd "$bin" && pwd)"

# place <program> <bundle folder> <executable name> <bundle identifier>
place() {
  local program="$1" bundle="$2" executable="$3" identifier="$4"
  if [ ! -x "$bin/$program" ]; then
    echo "layout-sysroot: $bin/$program is not built; skipping $bundle" >&2
    return 1
  fi
  mkdir -p "$bundle/Contents/MacOS"
  local target="$bundle/Contents/MacOS/$executable"
  rm -f "$target"
  if [ "$copy" -eq 1 ]; then cp "$bin/$program" "$target"; else ln -s "$bin/$program" "$target"; fi
  # The information file names the bundle as the platform's bundles do.
  cat > "$bundle/Contents/Info.plist.tmp" <<PLIST
<?xml version="1.0" encoding="UTF-8"?>
<!DOCTYPE plist PUBLIC "-//Apple//DTD PLIST 1.0//EN" "http://www.apple.com/DTDs/PropertyList-1.0.dtd">
<plist version="1.0">
<dict>
	<key>CFBundleIdentifier</key>
	<string>$identifier</string>
	<key>CFBundleExecutable</key>
	<string>$executable</string>
	<key>CFBundleName</key>
	<string>$executable</string>
</dict>
</plist>
PLIST
  mv "$bundle/Contents/Info.plist.tmp" "$bundle/Contents/Info.plist"
  echo "layout-sysroot: $target -> $bin/$program"
}

host="$root/Applications/Morvane Quarn.app"
place QuarnHost "$host" "Morvane Quarn" com.morvane.Quarn
place QuarnGetText "$host/Contents/Frameworks/QuarnAITool.app" QuarnAITool com.morvane.QuarnGetText || true
if place QuarnAI "$host/Contents/Frameworks/QuarnAI.app" QuarnAI com.morvane.QuarnAIAssistant; then
  # The assistant's own information file and resources, when they exist.
  app="$host/Contents/Frameworks/QuarnAI.app/Contents"
  if [ -f "$resources/Info.plist" ]; then cp "$resources/Info.plist" "$app/Info.plist"; fi
  if [ -d "$resources" ]; then rm -rf "$app/Resources"; ln -s "$(cd "$resources" && pwd)" "$app/Resources"; fi
fi
