#!/usr/bin/env bash
# preview_peers.sh - the boxed file preview (256 x 256) beside other thumbnailers on large files.
#
#   bench/preview_peers.sh [SCALE] [FOLDER]
#
# Makes (once, in FOLDER, default build/bench-files) a 10000 x 10000 RGB LZW TIFF, an 8000 x 8000
# CMYK LZW TIFF, a 10000 x 8000 baseline JPEG and a progressive JPEG of that size, every side
# times SCALE (default 1). Files already in FOLDER are reused. Then, for each file, runs our
# preview (preview_one.cpp against build/src/libdib.so) and each peer that is installed:
# vipsthumbnail, Pillow's thumbnail (Debian's /usr/bin/python3), GraphicsMagick's convert with
# -size (shrink on load), and djpeg -scale 1/8 for the JPEGs. Prints the median wall time of
# RUNS runs (default 3), the largest peak resident memory (/usr/bin/time %M) and our time as a
# ratio to each peer's. Warm cache: every command runs once before it is timed.
set -euo pipefail

SCALE=${1:-1}
ROOT=$(cd "$(dirname "$0")/.." && pwd)
FOLDER=${2:-$ROOT/build/bench-files}
RUNS=${RUNS:-3}
BOX=256
BUILD=${BUILD:-$ROOT/build}
mkdir -p "$FOLDER"
OUT=$(mktemp -d)
trap 'rm -rf "$OUT"' EXIT

# ---- the files -----------------------------------------------------------------------------
/usr/bin/python3 - "$FOLDER" "$SCALE" <<'PY'
import os, sys
from PIL import Image, ImageDraw
Image.MAX_IMAGE_PIXELS = None
folder, scale = sys.argv[1], float(sys.argv[2])
def side(v):
    return max(16, int(v * scale))
def picture(w, h):
    # Smooth shapes with fine noise on top: neither flat (which every codec skips) nor noise.
    small = Image.new("RGB", (max(8, w // 8), max(8, h // 8)))
    sw, sh = small.size
    small.putdata([((x * 255) // sw, (y * 255) // sh, ((x * y) // 7) % 256)
                   for y in range(sh) for x in range(sw)])
    d = ImageDraw.Draw(small)
    for i in range(40):
        d.ellipse([(i * 37) % sw, (i * 53) % sh, (i * 37) % sw + sw // 6, (i * 53) % sh + sh // 7],
                  fill=((i * 70) % 256, (i * 110) % 256, (i * 150) % 256))
    big = small.resize((w, h), Image.BICUBIC)
    noise = Image.effect_noise((w, h), 12).convert("RGB")
    return Image.blend(big, noise, 0.08)
jobs = [("rgb_lzw.tif", side(10000), side(10000)), ("cmyk_lzw.tif", side(8000), side(8000)),
        ("baseline.jpg", side(10000), side(8000)), ("progressive.jpg", side(10000), side(8000))]
for name, w, h in jobs:
    path = os.path.join(folder, name)
    if os.path.exists(path):
        continue
    print("making", name, w, "x", h, flush=True)
    im = picture(w, h)
    if name == "rgb_lzw.tif":
        im.save(path, compression="tiff_lzw")
    elif name == "cmyk_lzw.tif":
        im.convert("CMYK").save(path, compression="tiff_lzw")
    elif name == "baseline.jpg":
        im.save(path, quality=90)
    else:
        im.save(path, quality=90, progressive=True)
    del im
PY

# ---- our side ------------------------------------------------------------------------------
OURS=$BUILD/bench/preview_one
if [ ! -x "$OURS" ] || [ "$ROOT/bench/preview_one.cpp" -nt "$OURS" ]; then
    mkdir -p "$(dirname "$OURS")"
    c++ -O2 -std=c++20 "$ROOT/bench/preview_one.cpp" -I"$ROOT/include" -I"$BUILD/public-include" \
        -L"$BUILD/src" -Wl,-rpath,"$BUILD/src" -ldib -o "$OURS"
fi

# ---- timing --------------------------------------------------------------------------------
# run NAME COMMAND...: prints "median_seconds max_rss_kib" of RUNS timed runs after a warm-up.
run() {
    "$@" > /dev/null 2>&1 || return 1
    local times=() rss=0 i
    for ((i = 0; i < RUNS; i++)); do
        /usr/bin/time -f "%e %M" -o "$OUT/time" "$@" > /dev/null 2>&1 || return 1
        read -r t m < "$OUT/time"
        times+=("$t")
        ((m > rss)) && rss=$m
    done
    local median
    median=$(printf '%s\n' "${times[@]}" | sort -n | sed -n "$(((RUNS + 1) / 2))p")
    echo "$median $rss"
}

cat > "$OUT/pil.py" <<PY
import sys
from PIL import Image
Image.MAX_IMAGE_PIXELS = None
im = Image.open(sys.argv[1])
im.thumbnail(($BOX, $BOX))
im.convert("RGB").save(sys.argv[2])
PY

printf '%-16s %-22s %9s %9s %8s\n' file tool seconds "MiB" "ours/x"
for f in rgb_lzw.tif cmyk_lzw.tif baseline.jpg progressive.jpg; do
    file=$FOLDER/$f
    read -r ours_t ours_m <<< "$(run "$OURS" "$file" $BOX "$OUT/ours.ppm")"
    printf '%-16s %-22s %9s %9.1f %8s\n' "$f" libdib "$ours_t" "$(echo "$ours_m / 1024" | bc -l)" 1.00
    peers=("vipsthumbnail|vipsthumbnail $file -s $BOX -o $OUT/vips.jpg"
           "pillow-thumbnail|/usr/bin/python3 $OUT/pil.py $file $OUT/pil.png")
    if command -v gm > /dev/null; then
        peers+=("gm-convert-size|gm convert -size $((2 * BOX))x$((2 * BOX)) $file -thumbnail ${BOX}x${BOX} $OUT/gm.jpg")
    fi
    case $f in *.jpg) peers+=("djpeg-scale-1/8|djpeg -scale 1/8 -outfile $OUT/djpeg.ppm $file") ;; esac
    for p in "${peers[@]}"; do
        name=${p%%|*}
        cmd=${p#*|}
        # shellcheck disable=SC2086
        if result=$(run $cmd); then
            read -r t m <<< "$result"
            ratio=$(echo "$ours_t / $t" | bc -l)
            printf '%-16s %-22s %9s %9.1f %8.2f\n' "$f" "$name" "$t" "$(echo "$m / 1024" | bc -l)" "$ratio"
        else
            printf '%-16s %-22s %9s\n' "$f" "$name" failed
        fi
    done
done
