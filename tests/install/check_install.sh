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

# One include prefix: the consumer's path gains only include/, and every installed header
# compiles on its own with nothing else.
inc="$work/prefix/include"
read -r -a cflags <<< "$(pkg-config --cflags libdib)"
if [ ${#cflags[@]} -ne 1 ] || [ "$(realpath "${cflags[0]#-I}")" != "$(realpath "$inc")" ]; then
    echo "pkg-config adds more than $inc: ${cflags[*]}" >&2
    exit 1
fi
for d in base win raster; do
    if [ -e "$inc/$d" ]; then
        echo "the prefix has include/$d" >&2
        exit 1
    fi
done
(cd "$inc" && find dib -name '*.h') | while read -r h; do
    printf '#include <%s>\n' "$h" | c++ -std=c++20 -Wall -Wextra -Werror -fsyntax-only -I"$inc" -x c++ - \
        || { echo "installed header $h does not compile on its own" >&2; exit 1; }
done
c++ -std=c++20 -Wall -Wextra -Werror "$src/consumer/app.cpp" $(pkg-config --cflags --libs libdib) \
    -Wl,-rpath,"$work/prefix/lib" -o "$work/app"
"$work/app"

cmake -S "$src/consumer" -B "$work/cmake-app" -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/cmake-app" > /dev/null
"$work/cmake-app/app"
