#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds a small application against it twice:
# through pkg-config and through the CMake package. Catches public headers that include
# something that is not installed, and symbols that are not exported.
set -euo pipefail
build=$1
src=$(dirname "$0")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" > /dev/null
export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig"
c++ -std=c++20 -Wall -Wextra -Werror "$src/consumer/app.cpp" $(pkg-config --cflags --libs libdib) \
    -Wl,-rpath,"$work/prefix/lib" -o "$work/app"
"$work/app"

cmake -S "$src/consumer" -B "$work/cmake-app" -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/cmake-app" > /dev/null
"$work/cmake-app/app"
