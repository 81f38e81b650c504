#!/usr/bin/env bash
# One check of the Debian package. Usage: check_package.sh STEP DEB_DIR VERSION [BUILD_DIR]
#   build       cpack from BUILD_DIR into DEB_DIR (replacing the package made before)
#   validators  desktop-file-validate and appstreamcli validate --no-net on the unpacked files
#   contents    every file the package must hold, the icons' sizes, the control fields
#   versions    each program unpacked with dpkg -x prints the version, without a display
#   lintian     no errors
# Exits 77 (skipped) with the reason when a tool it needs is missing.
set -euo pipefail
step=$1 deb_dir=$2 version=$3

need() {
    for tool in "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "skipped: $tool is not installed (scripts/deps.sh installs it)"
            exit 77
        fi
    done
}

fail() {
    echo "FAILED: $*"
    status=1
}
status=0

deb() {
    local found=("$deb_dir"/corvane-zel_"$version"_*.deb)
    [ -f "${found[0]}" ] || { echo "no package in $deb_dir: package.build makes it"; exit 1; }
    echo "${found[0]}"
}

# The package's files under a temporary folder that goes when the check ends.
unpack() {
    root=$(mktemp -d)
    trap 'rm -rf "$root"' EXIT
    dpkg -x "$(deb)" "$root"
}

case $step in
build)
    need cpack dpkg-shlibdeps file
    rm -rf "$deb_dir"
    cpack --config "$4/CPackConfig.cmake" -B "$deb_dir"
    deb
    ;;

validators)
    need desktop-file-validate appstreamcli
    unpack
    desktop-file-validate "$root/usr/share/applications/corvane-zel.desktop" || fail "desktop entry"
    echo "desktop-file-validate: passed"
    appstreamcli validate --no-net "$root"/usr/share/metainfo/*.metainfo.xml || fail "metainfo"
    # The metainfo with the desktop entry and icon it names, as installed.
    appstreamcli validate-tree --no-net "$root" || fail "installed tree"
    ;;

contents)
    need file
    unpack
    expected=(
        usr/bin/corvane-zel
        usr/bin/corvane-zel-cli
        usr/bin/corvane-boxsim
        usr/share/applications/corvane-zel.desktop
        usr/share/icons/hicolor/scalable/apps/corvane-zel.svg
        usr/share/metainfo/invalid.corvane_zel.CorvaneZel.metainfo.xml
        usr/share/man/man1/corvane-zel.1.gz
        usr/share/man/man1/corvane-zel-cli.1.gz
        usr/share/man/man1/corvane-boxsim.1.gz
        usr/share/doc/corvane-zel/copyright
        usr/share/doc/corvane-zel/changelog.gz
        usr/share/doc/corvane-zel/main-window.png
    )
    sizes=(16 22 24 32 48 64 128 256)
    for size in "${sizes[@]}"; do
        expected+=("usr/share/icons/hicolor/${size}x${size}/apps/corvane-zel.png")
    done
    listed=$(dpkg-deb -c "$(deb)" | awk '{ print $NF }' | sed 's|^\./||')
    for path in "${expected[@]}"; do
        grep -qxF "$path" <<<"$listed" || fail "the package lacks $path"
    done
    for size in "${sizes[@]}"; do
        png="$root/usr/share/icons/hicolor/${size}x${size}/apps/corvane-zel.png"
        file -b "$png" | grep -q "^PNG image data, $size x $size," ||
            fail "${size}x${size} icon is $(file -b "$png")"
    done
    file -b "$root/usr/share/doc/corvane-zel/main-window.png" | grep -q "^PNG image data" ||
        fail "the screenshot is not a PNG"
    for program in corvane-zel corvane-zel-cli corvane-boxsim; do
        [ -x "$root/usr/bin/$program" ] || fail "$program is not executable"
        gzip -t "$root/usr/share/man/man1/$program.1.gz" || fail "$program.1.gz is no gzip file"
    done
    grep -q "<release version=\"$version\"" "$root"/usr/share/metainfo/*.metainfo.xml ||
        fail "the metainfo's release is not $version"
    dpkg-deb -f "$(deb)" Package Version Section Maintainer Depends Description
    field() { dpkg-deb -f "$(deb)" "$1"; }
    [ "$(field Version)" = "$version" ] || fail "Version is $(field Version)"
    [ "$(field Section)" = "electronics" ] || fail "Section is $(field Section)"
    [ -n "$(field Maintainer)" ] || fail "no Maintainer"
    # From dpkg-shlibdeps: the Qt libraries the programs link.
    for library in libqt6widgets6 libqt6charts6 libqt6serialport6; do
        field Depends | grep -q "$library" || fail "Depends lacks $library"
    done
    ;;

versions)
    unpack
    # No display: --help and --version must not need one.
    run() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@" 2>&1; }
    for program in corvane-zel corvane-zel-cli corvane-boxsim; do
        got=$(run "$root/usr/bin/$program" --version) || fail "$program --version failed: $got"
        echo "$got"
        [ "$got" = "$program $version" ] || fail "$program --version printed \"$got\""
    done
    help=$(run "$root/usr/bin/corvane-zel" --help) || fail "corvane-zel --help failed: $help"
    for option in --simulate "--screenshot <path>" "--port <path>" --version; do
        grep -qF -- "$option" <<<"$help" || fail "corvane-zel --help does not name $option"
    done
    # A wrong option is found once the window's application has started: offscreen here.
    if wrong=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/corvane-zel" --no-such-option 2>&1); then
        fail "corvane-zel took an unknown option"
    fi
    grep -q "no-such-option" <<<"$wrong" || fail "the unknown option is not named: $wrong"
    ;;

lintian)
    need lintian
    # Warnings and notes for the log; only errors fail.
    lintian --allow-root --display-info --fail-on error "$(deb)" || fail "lintian"
    ;;

*)
    echo "unknown step: $step"
    exit 2
    ;;
esac
[ $status -eq 0 ] && echo "passed: $step"
exit $status
