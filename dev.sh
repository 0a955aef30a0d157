#!/usr/bin/env bash
# Set-up, build and run in one step on Debian 12.
#   ./dev.sh run    install what is missing, build, start the tool beside the sensor simulator
#   ./dev.sh test   install what is missing, build, run every test
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${KTR450_BUILD_DIR:-$here/build}"

packages=(cmake make g++ pkg-config qtbase5-dev libqt5serialport5-dev qttools5-dev qttools5-dev-tools
          fonts-wqy-microhei xvfb xauth mbpoll)

install_missing() {
    local missing=()
    for p in "${packages[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "Installing: ${missing[*]}"
    local sudo=""
    [ "$(id -u)" -eq 0 ] || sudo="sudo"
    $sudo apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
}

configure_and_build() {
    cmake -S "$here" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKTR450_WERROR=ON >/dev/null
    cmake --build "$build" -j"$(nproc)"
}

start_tool() {
    if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
        echo "No display: the tool is a desktop window and needs one." >&2
        echo "Run it under a virtual display instead:  xvfb-run -a ./dev.sh run" >&2
        exit 1
    fi
    local sim="$build/tools/sim/ktr450-sim"
    if [ -x "$sim" ]; then
        local link="${TMPDIR:-/tmp}/ktr450-sim"
        "$sim" --link "$link" 2>/dev/null > "$build/sim.out" &
        local sim_pid=$!
        trap 'kill $sim_pid 2>/dev/null || true' EXIT
        for _ in $(seq 50); do [ -s "$build/sim.out" ] && break; sleep 0.1; done
        echo "Simulated sensor on $link ($(head -n1 "$build/sim.out")): type that path into the port box and press 打开."
    fi
    "$build/app/ktr450-config"
}

case "${1:-}" in
    run)
        install_missing
        configure_and_build
        start_tool
        ;;
    test)
        install_missing
        configure_and_build
        cd "$build"
        ctest --output-on-failure -j"$(nproc)"
        ;;
    *)
        sed -n '2,4p' "$0" | sed 's/^# \{0,1\}//'
        exit 1
        ;;
esac
