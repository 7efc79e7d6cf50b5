#!/usr/bin/env bash
# Makes a desktop of a test's own under HOME (an existing folder) and prints its environment, one
# variable a line: NAME=VALUE to set, -NAME to unset.
#
#   test-desktop.sh HOME
#
# The XDG folders are HOME's. Opening a folder, a file or an address (a file manager, the default
# browser) goes to a recorder that appends each address it is given, one a line, to
# HOME/.local/state/opened: the only application the desktop knows of. The system's data folders
# are offered without their applications, so nothing installed on the machine (a file manager, an
# image viewer) opens a window over the test. GIO keeps to local files and in-memory settings, so
# no GVfs daemon or mount and no settings daemon is started; no display or session of the
# machine's (Wayland, session manager, accessibility bus) is reached, and the toolkit starts no
# accessibility bus of its own.
set -euo pipefail

if [ $# -ne 1 ] || [ ! -d "$1" ]; then
  echo "usage: test-desktop.sh HOME (an existing folder)" >&2
  exit 2
fi
home="$(cd "$1" && pwd)"
# The recorder's path goes into a desktop entry's Exec line as it is.
case "$home" in
  *[\"\`\$\\%]*) echo "test-desktop: HOME must not hold \" \` \$ \\ or %: $home" >&2; exit 2 ;;
esac

config="$home/.config"
data="$home/.local/share"
state="$home/.local/state"
cache="$home/.cache"
runtime="$home/.run"
system="$home/.local/system-share"
mkdir -p "$config" "$data/applications" "$state" "$cache" "$runtime" "$system"
chmod 700 "$runtime"

# The system's data folders, in their order, without their applications.
IFS=: read -r -a sources <<<"${XDG_DATA_DIRS:-/usr/local/share:/usr/share}"
for source in "${sources[@]}"; do
  [ -d "$source" ] || continue
  links=()
  for entry in "$source"/*; do
    name="${entry##*/}"
    [ "$name" = applications ] && continue
    [ -e "$system/$name" ] || [ -L "$system/$name" ] && continue
    links+=("$entry")
  done
  [ ${#links[@]} -eq 0 ] || ln -s -t "$system" -- "${links[@]}"
done

recorder="$data/quarn-test-opener"
record="$state/opened"
printf '#!/bin/sh\nfor address in "$@"; do printf '"'"'%%s\\n'"'"' "$address"; done >>%q\n' "$record" >"$recorder"
chmod 755 "$recorder"
: >"$record"

types=(inode/directory x-scheme-handler/http x-scheme-handler/https x-scheme-handler/mailto
       x-scheme-handler/ftp application/octet-stream text/plain text/html application/pdf
       image/png image/jpeg image/gif image/webp image/svg+xml)
entry="quarn-test-opener.desktop"
{
  echo "[Desktop Entry]"
  echo "Type=Application"
  echo "Name=Opener of the tests"
  echo "Exec=\"$recorder\" %U"
  echo "NoDisplay=true"
  echo "MimeType=$(IFS=';'; echo "${types[*]}");"
} >"$data/applications/$entry"
{
  echo "[Default Applications]"
  for type in "${types[@]}"; do echo "$type=$entry"; done
} >"$config/mimeapps.list"

cat <<EOF
HOME=$home
XDG_CONFIG_HOME=$config
XDG_DATA_HOME=$data
XDG_STATE_HOME=$state
XDG_CACHE_HOME=$cache
XDG_RUNTIME_DIR=$runtime
XDG_DATA_DIRS=$system
GIO_USE_VFS=local
GIO_USE_VOLUME_MONITOR=unix
GSETTINGS_BACKEND=memory
NO_AT_BRIDGE=1
-XDG_CURRENT_DESKTOP
-XDG_SESSION_DESKTOP
-DESKTOP_SESSION
-XDG_SESSION_TYPE
-WAYLAND_DISPLAY
-SESSION_MANAGER
-AT_SPI_BUS_ADDRESS
EOF
