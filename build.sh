#!/usr/bin/env bash
# One entry point for developers and CI.
#   ./build.sh test   install what is missing, build, run every test
#   ./build.sh demo   set up and run a real demo update end to end
#   ./build.sh build  install what is missing and build only
set -euo pipefail
cd "$(dirname "$0")"

JOBS=${JOBS:-$(nproc)}

# Debian packages the build, the tests and the demo need.
PACKAGES=(
    build-essential cmake pkg-config
    qtbase5-dev qttools5-dev-tools qttranslations5-l10n
    libprotobuf-dev protobuf-compiler
    libtomcrypt-dev libtommath-dev
    liblzma-dev zlib1g-dev libboost-dev
    libgtest-dev libgmock-dev
    openssl xz-utils python3
)

install_packages() {
    local missing=()
    for p in "${PACKAGES[@]}"; do
        if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
            missing+=("$p")
        fi
    done
    if [ ${#missing[@]} -eq 0 ]; then
        return
    fi
    echo "Installing missing packages: ${missing[*]}"
    local sudo=""
    if [ "$(id -u)" -ne 0 ]; then
        sudo="sudo"
    fi
    $sudo apt-get update
    DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
}

build_main() {
    cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
    cmake --build build -j "$JOBS"
}

# The patch engine parses bytes from the network, so its tests also run under
# AddressSanitizer and UndefinedBehaviorSanitizer, in a tree of their own.
build_sanitized_engine() {
    cmake -S . -B build/sanitize -DCMAKE_BUILD_TYPE=Debug -DOV3_ENGINE_ONLY=ON -DOV3_SANITIZE=ON
    cmake --build build/sanitize -j "$JOBS"
}

case "${1:-}" in
test)
    install_packages
    build_main
    build_sanitized_engine
    export QT_QPA_PLATFORM=offscreen
    ctest --test-dir build --output-on-failure -j "$JOBS"
    ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        ctest --test-dir build/sanitize --output-on-failure -j "$JOBS"
    ;;
build)
    install_packages
    build_main
    ;;
demo)
    if [ -x demo/run.sh ]; then
        install_packages
        build_main
        exec demo/run.sh
    fi
    echo "demo: not available yet"
    ;;
*)
    echo "usage: $0 test|demo|build" >&2
    exit 2
    ;;
esac
