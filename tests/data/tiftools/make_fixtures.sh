#!/bin/sh
# Makes the TIFF inspection tools' fixtures with tools independent of this library: tifffile
# under Debian's /usr/bin/python3 and libtiff-tools. Run from anywhere:
#   sh tests/data/tiftools/make_fixtures.sh
# hostile_wide_rows.tif is not made here: it is an input the fuzz target found (a 612-byte file
# whose header claims rows of 2.7 GB), kept as a regression case.
set -eu
cd "$(dirname "$0")"
/usr/bin/python3 make_fixtures.py
# XResolution 0, set by libtiff's own tool after tifffile wrote a valid one.
tiffset -s 282 0 xres0.tif
# A 64 x 64 LZW file in two strips whose second strip is cut short. libtiff writes its
# directory after the data, so the file keeps its length and the cut is stated where libtiff
# looks: the second StripByteCounts entry is halved in place.
tiffcp -c lzw rgb_big.tif lzw_truncated.tif
rm -f rgb_big.tif
/usr/bin/python3 - <<'PY'
import struct
import tifffile
with tifffile.TiffFile("lzw_truncated.tif") as t:
    tag = t.pages[0].tags["StripByteCounts"]
    counts, offset = list(tag.value), tag.valueoffset
assert len(counts) == 2 and t.byteorder == "<"
with open("lzw_truncated.tif", "r+b") as f:
    f.seek(offset + 4)
    f.write(struct.pack("<I", counts[1] // 2))
PY
