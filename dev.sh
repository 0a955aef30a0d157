#!/usr/bin/env bash
# Set-up, build and run in one step on Debian 12.
#   ./dev.sh run    install what is missing, build, start the tool beside the sensor simulator
#   ./dev.sh test   install what is missing, build, run every test
#   ./dev.sh harden the same tests under AddressSanitizer and UBSan (clang), then the fuzzers
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
build="${KTR450_BUILD_DIR:-$here/build}"

packages=(cmake make g++ pkg-config qtbase5-dev libqt5serialport5-dev qttools5-dev qttools5-dev-tools libcli11-dev
          libqt5charts5-dev libqt5svg5-dev help2man man-db poppler-utils
          fonts-wqy-microhei xvfb xauth mbpoll dpkg-dev file cppcheck desktop-file-utils
          postgresql libqt5sql5-sqlite libqt5sql5-psql clang-format)
harden_packages=(clang libclang-rt-14-dev)

install_missing() {
    local missing=()
    for p in "$@"; do
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
    cmake --build "$build" -j"$(nproc)" "$@"
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
        local log="$build/sim.log"
        "$sim" --link "$link" 2>"$log" > "$build/sim.out" &
        local sim_pid=$!
        trap 'kill $sim_pid 2>/dev/null || true' EXIT
        for _ in $(seq 50); do [ -s "$build/sim.out" ] && break; sleep 0.1; done
        echo "Simulated sensor on $link ($(head -n1 "$build/sim.out")): type that path into the port box and press 打开."
        echo "Every frame the simulator receives and sends is logged in $log (tail -f it to watch)."
    fi
    "$build/app/ktr450-config"
}

harden() {
    local asan="$build-asan"
    CC=clang CXX=clang++ cmake -S "$here" -B "$asan" -DCMAKE_BUILD_TYPE=Debug \
        -DKTR450_SANITIZE=ON -DKTR450_FUZZ=ON -DKTR450_WERROR=ON >/dev/null
    cmake --build "$asan" -j"$(nproc)"
    # Any report stops the program, so the test or fuzz run fails with it.
    export ASAN_OPTIONS="halt_on_error=1:detect_leaks=1"
    export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
    (cd "$asan" && ctest --output-on-failure -j"$(nproc)")
    local seconds="${KTR450_FUZZ_SECONDS:-60}"
    while IFS= read -r fuzzer; do
        echo "Fuzzing with $(basename "$fuzzer") for ${seconds}s"
        local corpus="$asan/corpus/$(basename "$fuzzer")"
        mkdir -p "$corpus"
        "$fuzzer" -max_total_time="$seconds" -max_len=512 "$corpus" 2>"$asan/$(basename "$fuzzer").log" \
            || { tail -n 40 "$asan/$(basename "$fuzzer").log"; exit 1; }
        grep -E '^Done [0-9]+ runs' "$asan/$(basename "$fuzzer").log"
    done < <(find "$asan" -type f -name 'fuzz_*' -perm -u+x | sort)
}

case "${1:-}" in
    run)
        install_missing "${packages[@]}"
        configure_and_build --target ktr450-config ktr450-sim
        start_tool
        ;;
    test)
        install_missing "${packages[@]}"
        configure_and_build
        cd "$build"
        ctest --output-on-failure -j"$(nproc)"
        ;;
    harden)
        install_missing "${packages[@]}" "${harden_packages[@]}"
        harden
        ;;
    *)
        sed -n '2,5p' "$0" | sed 's/^# \{0,1\}//'
        exit 1
        ;;
esac
