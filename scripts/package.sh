#!/usr/bin/env bash
# Builds the Debian package of the tool (CPack, from the build in build/) and prints its path,
# build/package/corvane-zel_VERSION_ARCH.deb. Install it with
#   sudo apt install ./build/package/corvane-zel_*.deb
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# What the package holds; the tests are not needed for it.
cmake --build build --target corvane-zel corvane-zel-cli corvane-boxsim dist_files
rm -rf build/package
cpack --config build/CPackConfig.cmake -B "$PWD/build/package" >/dev/null
deb=$(ls "$PWD"/build/package/corvane-zel_*.deb)
echo "$deb"
echo "Install it with: sudo apt install $deb"
