#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, skipping those already present.
# Usage: scripts/deps.sh [extra packages...]
set -euo pipefail

# Qt's Charts package needs the OpenGL development files, which it does not pull in itself.
# fonts-wine carries a face with the metrics of the one the layout was drawn with.
# The end-to-end rows (tests/e2e) talk to the X server through libxcb; scripts/e2e.sh adds
# what runs them: xvfb, xauth, xdotool and openbox.
# The monkey's driver (monkey/) sends its input through XTest: libx11-dev and libxtst-dev;
# scripts/monkey.sh adds what runs it: xvfb, xauth, openbox and gdb.
# The Debian package: dpkg-dev (dpkg-shlibdeps) and file for CPack, and the checks of
# tests/package (desktop-file-utils, appstream, lintian).
packages=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-charts-dev qt6-serialport-dev
          libqt6opengl6-dev libgtest-dev libxcb1-dev libx11-dev libxtst-dev fonts-dejavu-core
          fonts-dejavu-extra fonts-wine dpkg-dev file desktop-file-utils appstream lintian "$@")

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$pkg")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then sudo_cmd=(sudo); fi
export DEBIAN_FRONTEND=noninteractive
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
