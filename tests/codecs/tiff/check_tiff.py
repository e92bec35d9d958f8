#!/usr/bin/python3
"""Reads TIFF files made by the whole-image TIFF writer's test with tifffile and checks every
sample against the pattern the test filled the image with.

File names carry the parameters: b<bits>_c<compression>_k<cmyk>.tif. Stored byte i of row y of
the image is (5y + 3i + 1) mod 256; 24-bit pixels are blue, green, red; 48-bit pixels three
little-endian 16-bit words in the same order; 32-bit pixels four bytes written as they are.
Exit status 0 when every check passes."""
import re
import sys

import numpy
import tifffile


def stored(w, h, bytes_per_pixel):
    line = (w * bytes_per_pixel + 3) // 4 * 4
    y = numpy.arange(h, dtype=numpy.int64)[:, None]
    i = numpy.arange(line, dtype=numpy.int64)[None, :]
    return ((5 * y + 3 * i + 1) % 256).astype(numpy.uint8)[:, : w * bytes_per_pixel]


def expected(bits, cmyk, w, h):
    if bits == 8:
        return stored(w, h, 1)
    if bits == 24:
        bgr = stored(w, h, 3).reshape(h, w, 3)
        rgb = bgr[:, :, ::-1]
        if not cmyk:
            return rgb
        out = numpy.zeros((h, w, 4), numpy.uint8)
        out[:, :, :3] = 255 - rgb
        return out
    if bits == 32:
        return stored(w, h, 4).reshape(h, w, 4)
    if bits == 48:
        words = stored(w, h, 6).view("<u2").reshape(h, w, 3)
        return words[:, :, ::-1]
    raise ValueError(bits)


def main(paths):
    failures = 0
    for path in paths:
        m = re.search(r"b(\d+)_c(\d+)_k(\d)\.tif$", path)
        bits, compression, cmyk = (int(v) for v in m.groups())
        with tifffile.TiffFile(path) as tif:
            page = tif.pages[0]
            data = page.asarray()
            if page.compression.value != compression:
                print(f"{path}: compression {page.compression.value}")
                failures += 1
        h, w = data.shape[0], data.shape[1]
        want = expected(bits, cmyk, w, h)
        if data.shape != want.shape or not numpy.array_equal(data, want):
            print(f"{path}: samples differ (shape {data.shape}, expected {want.shape})")
            failures += 1
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
