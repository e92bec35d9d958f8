#!/usr/bin/env bash
# Installs the build into a temporary prefix and builds two small applications against it twice:
# through pkg-config and through the CMake package. One checks the exported basics; the other is
# the README's example (examples/quickstart.cpp), run on a bundled sample. Catches public
# headers that include something that is not installed, and symbols that are not exported.
set -euo pipefail
build=$1
src=$(dirname "$0")
root="$src/../.."
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
c++ -std=c++20 -Wall -Wextra -Werror "$root/examples/quickstart.cpp" $(pkg-config --cflags --libs libdib) \
    -Wl,-rpath,"$work/prefix/lib" -o "$work/quickstart"

# The example's preview is a TIFF (either byte order).
run_quickstart() {
    rm -f "$work/preview.tif"
    "$1" "$root/samples/$2" "$work/preview.tif" > "$work/quickstart.txt"
    grep -q '^preview: 160 x 120 pixels' "$work/quickstart.txt" || {
        cat "$work/quickstart.txt" >&2
        exit 1
    }
    case $(head -c 4 "$work/preview.tif" | od -An -tx1 | tr -d ' ') in
        49492a00 | 4d4d002a) ;;
        *) echo "$1 did not write a TIFF" >&2; exit 1 ;;
    esac
}
run_quickstart "$work/quickstart" photo.jpg

cmake -S "$src/consumer" -B "$work/cmake-app" -DCMAKE_PREFIX_PATH="$work/prefix" > /dev/null
cmake --build "$work/cmake-app" > /dev/null
"$work/cmake-app/app"
run_quickstart "$work/cmake-app/quickstart" cmyk-lzw.tif
