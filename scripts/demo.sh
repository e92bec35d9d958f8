#!/usr/bin/env bash
# make demo: dibtool at work on the bundled samples (samples/, made by samples/make-samples.sh)
# and on one large image written here with the streaming TIFF writer. Everything goes under
# out/; the run ends by listing what it wrote.
#
#   bash scripts/demo.sh [BUILD_DIR]
#
# DIB_DEMO_OUT   the output folder (default out; a relative path is taken in the source tree)
# DIB_DEMO_BIG   the large image's size, WIDTHxHEIGHT (default 6000x6000)
set -euo pipefail
BUILD=$(cd "${1:-build}" 2>/dev/null && pwd) || {
    echo "demo: no build folder ${1:-build}: build first (make build)" >&2
    exit 1
}
OUT=${DIB_DEMO_OUT:-out}
BIG=${DIB_DEMO_BIG:-6000x6000}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
TOOL="$BUILD/tools/dibtool/dibtool"
MAKE_BIG="$BUILD/tools/make_big_tiff/make_big_tiff"

for program in "$TOOL" "$MAKE_BIG"; do
    if [ ! -x "$program" ]; then
        echo "demo: $program is missing: build first (make build)" >&2
        exit 1
    fi
done

# Samples by their path under the source tree, so the commands shown are the ones a user types.
cd "$ROOT"
SAMPLES=(samples/photo.jpg samples/cmyk-lzw.tif samples/deep16.tif samples/icc.tif
    samples/rgba.png samples/palette.gif samples/layers.psd samples/picture.bmp)

heading() { printf '\n== %s\n' "$*"; }
# Shows the command as typed, then runs it.
dibtool() {
    printf '$ dibtool %s\n' "$*"
    "$TOOL" "$@"
}

mkdir -p "$OUT/converted" "$OUT/previews"

heading "the tool"
"$TOOL" --version

heading "what each sample is (dibtool info)"
for f in "${SAMPLES[@]}"; do
    dibtool info "$f"
    echo
done
dibtool info samples/cmyk-lzw.tif --json

heading "conversions for the screen: a CMYK TIFF and a Photoshop document to PNG"
dibtool convert samples/cmyk-lzw.tif "$OUT/converted/cmyk-lzw.png"
dibtool convert samples/layers.psd "$OUT/converted/layers.png"
dibtool info "$OUT/converted/cmyk-lzw.png"

heading "the embedded ICC profile of a TIFF"
dibtool icc samples/icc.tif "$OUT/converted/icc.icc"

heading "previews: each sample fitted into 160 x 120 on white, one by memory budget"
for f in "${SAMPLES[@]}"; do
    name=$(basename "$f")
    dibtool preview "$f" "$OUT/previews/${name%.*}.png" --box 160x120
done
dibtool preview samples/photo.jpg "$OUT/previews/photo-12kb.png" --kb 12

heading "a large image: $BIG pixels written row by row, then previewed line by line"
printf '$ make_big_tiff %s %s\n' "$OUT/big.tif" "$BIG"
"$MAKE_BIG" "$OUT/big.tif" "$BIG"
dibtool info "$OUT/big.tif"
dibtool preview "$OUT/big.tif" "$OUT/previews/big.png" --box 400x400

heading "written under $OUT/"
(cd "$OUT" && find . -type f -printf '%P\n' | LC_ALL=C sort | while read -r f; do
    printf '%10s  %s\n' "$(stat -c %s "$f")" "$f"
done)
