#!/usr/bin/env bash
# The Debian package, built with CPack from a build tree and checked from the
# outside with dpkg-deb, the way a user's system sees it.
#   test_package.sh build    BUILD_DIR WORK_DIR   build the .deb into WORK_DIR and unpack it
#   test_package.sh contents BUILD_DIR WORK_DIR   programs, manual pages, completion, copyright,
#                                                 menu entry and icon are in it
#   test_package.sh depends  BUILD_DIR WORK_DIR   Depends names the libraries the programs link
#   test_package.sh starts   BUILD_DIR WORK_DIR   the unpacked tool and station window start and
#                                                 keep running
set -euo pipefail

step="${1:?step}"
build="${2:?build directory}"
work="${3:?work directory}"

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

package() {
    local debs=("$work"/out/*.deb)
    [ ${#debs[@]} -eq 1 ] && [ -f "${debs[0]}" ] || fail "expected one .deb in $work/out, found: ${debs[*]}"
    echo "${debs[0]}"
}

# Paths in the package, without the leading "." of dpkg-deb's listing.
package_paths() {
    dpkg-deb -c "$1" | awk '{ print $6 }' | sed 's|^\.||; s|/$||'
}

build_package() {
    rm -rf "$work"
    mkdir -p "$work/out"
    # CPack installs the build tree into its own staging area under -B, so
    # nothing is written to the system or the build directory's install tree.
    if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" > "$work/cpack.log" 2>&1; then
        cat "$work/cpack.log" >&2
        fail "cpack could not build the package"
    fi
    local deb
    deb="$(package)"
    dpkg-deb -x "$deb" "$work/root"
    echo "package: $(basename "$deb"), $(stat -c %s "$deb") bytes"
    echo "Depends: $(dpkg-deb -f "$deb" Depends)"
    dpkg-deb -c "$deb"
}

check_contents() {
    local deb paths
    deb="$(package)"
    paths="$(package_paths "$deb")"
    for wanted in /usr/bin/ktr450-config /usr/bin/ktr450-station; do
        grep -qx "$wanted" <<< "$paths" || fail "$wanted is not in the package"
    done
    # The simulator, the companion and the station window ship whenever the
    # build made them, each with its manual page, which must render.
    local name page
    for program in tools/sim/ktr450-sim tools/ctl/ktr450ctl tools/stationwindow/ktr450-station; do
        if [ -x "$build/$program" ]; then
            name="$(basename "$program")"
            grep -qx "/usr/bin/$name" <<< "$paths" || fail "$name was built but is not in the package"
            page="/usr/share/man/man1/$name.1.gz"
            grep -qx "$page" <<< "$paths" || fail "$name was built but its manual page is not in the package"
            MANWIDTH=80 man -P cat -l "$work/root$page" 2> "$work/man.err" | grep -q "^NAME" \
                || { cat "$work/man.err" >&2; fail "the manual page of $name does not render"; }
        fi
    done
    local copyright="$work/root/usr/share/doc/ktr450-tools/copyright"
    [ -f "$copyright" ] || fail "no copyright file at /usr/share/doc/ktr450-tools/copyright"
    grep -q '^License: GPL-3.0-or-later' "$copyright" || fail "the copyright file names no licence"
    if [ -x "$build/tools/ctl/ktr450ctl" ]; then
        local completion="$work/root/usr/share/bash-completion/completions/ktr450ctl"
        [ -f "$completion" ] || fail "no bash completion for ktr450ctl"
        local offered
        offered="$(bash -c 'source "$1"; COMP_WORDS=(ktr450ctl --port ttyUSB0 ver); COMP_CWORD=3
                            _ktr450ctl; echo "${COMPREPLY[*]}"' _ "$completion")"
        [ "$offered" = "version verify" ] || fail "completing 'ver' offers [$offered]"
    fi
    if [ -x "$build/tools/stationwindow/ktr450-station" ]; then
        local completion="$work/root/usr/share/bash-completion/completions/ktr450-station"
        [ -f "$completion" ] || fail "no bash completion for ktr450-station"
        local offered
        offered="$(bash -c 'source "$1"; COMP_WORDS=(ktr450-station --once --p); COMP_CWORD=2
                            _ktr450_station; echo "${COMPREPLY[*]}"' _ "$completion")"
        [ "$offered" = "--profile --port" ] || fail "completing '--p' offers [$offered]"
    fi
    # Only files of a desktop package's layout: nothing outside /usr, no
    # headers, static libraries or test programs.
    local stray
    stray="$(grep -v -E '^(/usr|/usr/bin(/ktr450[-a-z]*)?|/usr/share(/applications(/.*\.desktop)?|/icons(/hicolor(/scalable(/apps(/.*\.svg)?)?)?)?|/man(/man1(/ktr450[-a-z]*\.1\.gz)?)?|/doc(/ktr450-tools(/copyright)?)?|/bash-completion(/completions(/ktr450ctl|/ktr450-station)?)?)?)?$' <<< "$paths" || true)"
    [ -z "$stray" ] || fail "unexpected files in the package: $stray"

    [ "$(dpkg-deb -f "$deb" Package)" = ktr450-tools ] || fail "package name is $(dpkg-deb -f "$deb" Package)"
    [ "$(dpkg-deb -f "$deb" Section)" = electronics ] || fail "section is $(dpkg-deb -f "$deb" Section)"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] \
        || fail "architecture is $(dpkg-deb -f "$deb" Architecture)"
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "no maintainer"

    # A menu entry and an icon for each window program.
    local window desktop icon
    for window in ktr450-config ktr450-station; do
        desktop="$work/root/usr/share/applications/$window.desktop"
        icon="$work/root/usr/share/icons/hicolor/scalable/apps/$window.svg"
        [ -f "$desktop" ] || fail "no menu entry $window.desktop"
        grep -qx "Exec=$window" "$desktop" || fail "the menu entry does not start $window"
        grep -qx "Icon=$window" "$desktop" || fail "the menu entry of $window does not name its icon"
        if command -v desktop-file-validate > /dev/null; then
            desktop-file-validate "$desktop" || fail "the menu entry of $window is not valid"
        fi
        [ -f "$icon" ] && head -c 200 "$icon" | grep -q '<svg' || fail "the icon of $window is not an SVG image"
    done

    # Installed programs must not look for libraries in the build tree.
    local program
    for program in "$work"/root/usr/bin/*; do
        if readelf -d "$program" | grep -E 'R(UN)?PATH' | grep -qF "$build"; then
            fail "$(basename "$program") keeps a run path into the build tree"
        fi
    done
}

check_depends() {
    local deb depends
    deb="$(package)"
    depends="$(dpkg-deb -f "$deb" Depends)"
    echo "Depends: $depends"
    [ -n "$depends" ] || fail "Depends is empty"
    # One entry per library package, as dpkg-shlibdeps writes them.
    local entries
    entries="$(tr ',' '\n' <<< "$depends" | sed 's/^ *//; s/ .*//')"
    for library in libqt5serialport5 libqt5widgets5 libqt5core5a libc6 libqt5sql5-sqlite; do
        grep -qx "$library" <<< "$entries" || fail "Depends does not name $library"
    done
    # Development packages are build dependencies only.
    if grep -q -- '-dev$' <<< "$entries"; then
        fail "Depends names a development package"
    fi
}

check_starts() {
    # The tool takes no options, and the station window without options asks
    # for them in its start dialog: a clean start is a window that keeps
    # running until it is told to stop.
    local name tool missing pid status
    for name in ktr450-config ktr450-station; do
        tool="$work/root/usr/bin/$name"
        [ -x "$tool" ] || fail "no installed program at $tool"
        missing="$(ldd "$tool" | grep 'not found' || true)"
        [ -z "$missing" ] || fail "libraries of $name not found: $missing"
        (cd "$work" && QT_QPA_PLATFORM=offscreen exec "$tool") > "$work/$name.log" 2>&1 &
        pid=$!
        sleep 2
        if ! kill -0 "$pid" 2> /dev/null; then
            status=0
            wait "$pid" || status=$?
            cat "$work/$name.log" >&2
            fail "the installed $name ended by itself within 2 s (exit status $status)"
        fi
        kill -TERM "$pid"
        wait "$pid" || true
        if grep -E -i 'cannot|could not|failed|error' "$work/$name.log" >&2; then
            fail "the installed $name complained while starting"
        fi
    done
}

case "$step" in
    build) build_package ;;
    contents) check_contents ;;
    depends) check_depends ;;
    starts) check_starts ;;
    *) fail "unknown step $step" ;;
esac
