#!/usr/bin/env bash
# Installs the Debian packages that building and testing libdib need. Idempotent: when every
# package is already installed it does nothing (no apt-get update, no network).
set -euo pipefail

PACKAGES=(
    build-essential cmake pkg-config python3 clang clang-format
    libpugixml-dev
    libtiff-dev libjpeg62-turbo-dev libpng-dev libgif-dev zlib1g-dev
    libcairo2-dev
    libzint-dev
    libopencv-imgproc-dev libleptonica-dev
    libsane-dev sane-utils
    libzbar-dev python3-pil imagemagick
    libtiff-tools python3-tifffile
    libjpeg-turbo-progs
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    libvips-tools
    poppler-utils
)

# Writers that only the fixture scripts need (their results are committed, so builds and tests
# do not): installed when DIB_FIXTURE_TOOLS=1.
FIXTURE_PACKAGES=(imagemagick python3-pil python3-psd-tools)
if [ "${DIB_FIXTURE_TOOLS:-0}" = 1 ]; then
    PACKAGES+=("${FIXTURE_PACKAGES[@]}")
fi
# Peers that only bench/preview_peers.sh runs beside the library: installed when DIB_BENCH_TOOLS=1.
BENCH_PACKAGES=(graphicsmagick)
if [ "${DIB_BENCH_TOOLS:-0}" = 1 ]; then
    PACKAGES+=("${BENCH_PACKAGES[@]}")
fi

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "setup-deps: installing ${missing[*]}"
SUDO=""
if [ "$(id -u)" -ne 0 ]; then
    SUDO="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
