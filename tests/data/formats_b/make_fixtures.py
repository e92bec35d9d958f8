#!/usr/bin/python3
"""Makes the fixtures of the kernel's JPEG, TIFF and Photo CD codecs with tools independent of
libdib.

Run with Debian's python3 (python3-pil, python3-tifffile) from this folder; needs cjpeg and djpeg
(libjpeg-turbo-progs), tiffcp (libtiff-tools) and ImageMagick's convert. The results are
committed, so the tests need none of these tools. The JPEG fixtures of tests/data/jpeg (grey,
4:2:0, progressive, densities, Adobe CMYK) serve these codecs too.

  source: a 37 x 29 pattern made here (not kept), pattern.rgb is its R, G, B bytes
  JPEG
    rgb422.jpg        cjpeg -sample 2x1                     expected rgb422.ppm (djpeg)
    arith.jpg         cjpeg -arithmetic                     expected arith.ppm (djpeg)
  TIFF (expected pixels: the pattern itself unless said)
    tiled.tif         PIL, then tiffcp -t 16 x 16 tiles, LZW
    separate.tif      tiffcp -p separate (planar), PackBits
    big.tif           tifffile, BigTIFF, Deflate
    rgb16.tif         tifffile, 16 bits per sample (value * 256 + 3): expected the pattern
    ycbcr-jpeg.tif    tiffcp -c jpeg:90 (YCbCr 2x2 in JPEG)  expected ycbcr-jpeg.rgb (PIL)
    lab.tif           PIL, CIELab (photometric 8), greys     expected lab.rgb (ImageMagick sRGB)
    palette.tif       PIL, palette, LZW                      expected palette.rgb (PIL)
    g4.tif            PIL, 1 bit, CCITT Group 4              expected g4.rgb (PIL)
    rgba.tif          PIL, RGBA, unassociated alpha 128..255 expected rgba.rgba (PIL)
    cmyk.tif          PIL, CMYK with K = 0, uncompressed     expected cmyk.rgb: 255 - C, M, Y
    bottom-up.tif     PIL, orientation 4, rows stored bottom first: the picture is the pattern
  Photo CD (no independent writer exists, so the file is built here from the published layout)
    synthetic.pcd     sector 0 filled with 0xFF, "PCD_IPI" at 2048, orientation byte 0xE02 = 0,
                      Base/16 at sector 4, Base/4 at sector 23, Base at sector 96; luma a ramp,
                      chroma constant over 8 x 8 chroma blocks
    pcd-expected.txt  "resolution x y R G B" for sample points, from the Photo YCC formula
                      L = 1.3584 Y, C1 = 2.2179 (Cb - 156), C2 = 1.8215 (Cr - 137),
                      R = L + C2, G = L - 0.194 C1 - 0.509 C2, B = L + C1 (rounded, clamped)
                      The script checks the unclamped formula against ImageMagick's reading
                      of the Base picture, which scales the 0..346 range to 0..255, as
                      orientations 0, 1 and 3 (turned copies checked for their geometry).
"""
import math
import os
import subprocess

import numpy
import tifffile
from PIL import Image

W, H = 37, 29


def pattern():
    im = Image.new("RGB", (W, H))
    px = im.load()
    for y in range(H):
        for x in range(W):
            px[x, y] = ((x * 7) % 256, (y * 9) % 256, ((x + y) * 5) % 256)
    return im


def run(*args, **kw):
    return subprocess.run(args, check=True, **kw).stdout


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


def djpeg(jpg, out):
    write(out, run("djpeg", "-pnm", jpg, stdout=subprocess.PIPE))


def jpeg_fixtures(src):
    src.save("src.ppm")
    write("rgb422.jpg", run("cjpeg", "-sample", "2x1", "src.ppm", stdout=subprocess.PIPE))
    djpeg("rgb422.jpg", "rgb422.ppm")
    write("arith.jpg", run("cjpeg", "-arithmetic", "src.ppm", stdout=subprocess.PIPE))
    djpeg("arith.jpg", "arith.ppm")
    os.remove("src.ppm")


def tiff_fixtures(src):
    write("pattern.rgb", src.tobytes())
    src.save("plain.tif")
    run("tiffcp", "-t", "-w", "16", "-l", "16", "-c", "lzw", "plain.tif", "tiled.tif")
    run("tiffcp", "-p", "separate", "-c", "packbits", "plain.tif", "separate.tif")
    run("tiffcp", "-c", "jpeg:90", "-r", "16", "plain.tif", "ycbcr-jpeg.tif")
    write("ycbcr-jpeg.rgb", Image.open("ycbcr-jpeg.tif").convert("RGB").tobytes())
    os.remove("plain.tif")

    a = numpy.asarray(src)
    tifffile.imwrite("big.tif", a, bigtiff=True, compression="zlib", photometric="rgb")
    tifffile.imwrite("rgb16.tif", a.astype(numpy.uint16) * 256 + 3, photometric="rgb")

    # libtiff's CIELab display transform is not sRGB; on the grey axis every converter agrees.
    src.convert("L").convert("RGB").convert("LAB").save("lab.tif")
    write("lab.rgb", run("convert", "lab.tif", "-colorspace", "sRGB", "-depth", "8", "rgb:-",
                         stdout=subprocess.PIPE))

    pal = src.quantize(colors=16)
    pal.save("palette.tif", compression="tiff_lzw")
    write("palette.rgb", Image.open("palette.tif").convert("RGB").tobytes())

    bw = src.convert("L").point(lambda v: 255 if v > 100 else 0).convert("1")
    bw.save("g4.tif", compression="group4")
    write("g4.rgb", Image.open("g4.tif").convert("RGB").tobytes())

    rgba = src.copy()
    rgba.putalpha(Image.linear_gradient("L").resize((W, H)).point(lambda v: 128 + v // 2))
    rgba.save("rgba.tif")
    write("rgba.rgba", Image.open("rgba.tif").convert("RGBA").tobytes())

    # Stored bottom row first (orientation 4): the picture is the pattern.
    src.transpose(Image.Transpose.FLIP_TOP_BOTTOM).save("bottom-up.tif", tiffinfo={274: 4})

    cmyk = Image.new("CMYK", (W, H))
    px = cmyk.load()
    for y in range(H):
        for x in range(W):
            px[x, y] = ((x * 7) % 256, (y * 9) % 256, ((x + y) * 5) % 256, 0)
    cmyk.save("cmyk.tif")
    expected = bytes(255 - v for v in src.tobytes())
    write("cmyk.rgb", expected)


# ---- Photo CD ---------------------------------------------------------------------------------

SECTOR = 2048
PACKS = [(192, 128, 4), (384, 256, 23), (768, 512, 96)]


def luma(w, h, x, y):
    return min(255, 30 + (x * 180) // w + (y * 40) // h)


def chroma(w, h, x, y):
    """Cb, Cr of chroma sample (x, y): constant over 8 x 8 chroma samples."""
    bx, by = x // 8, y // 8
    return 100 + (bx * 37) % 120, 90 + (by * 53 + bx * 11) % 110


def pack(w, h):
    out = bytearray()
    for p in range(h // 2):
        for y in (2 * p, 2 * p + 1):
            out += bytes(luma(w, h, x, y) for x in range(w))
        cs = [chroma(w, h, x, p) for x in range(w // 2)]
        out += bytes(c[0] for c in cs)
        out += bytes(c[1] for c in cs)
    return out


def ycc(w, h, x, y):
    """Unclamped R, G, B of pixel (x, y)."""
    cb, cr = chroma(w, h, x // 2, y // 2)
    L = 1.3584 * luma(w, h, x, y)
    c1 = 2.2179 * (cb - 156)
    c2 = 1.8215 * (cr - 137)
    return L + c2, L - 0.194 * c1 - 0.509 * c2, L + c1


def clamp(v):
    return max(0, min(255, math.floor(v + 0.5)))


def pcd_fixtures():
    data = bytearray(b"\xff" * SECTOR)
    header = bytearray(2 * SECTOR)
    header[0:7] = b"PCD_IPI"
    data += header
    for w, h, sector in PACKS:
        data += bytes(sector * SECTOR - len(data))
        data += pack(w, h)
    data += bytes(-len(data) % SECTOR)
    write("synthetic.pcd", data)

    lines = []
    for res, (w, h, _) in enumerate(PACKS):
        for y in list(range(0, h, 13)) + [h - 1]:
            for x in list(range(0, w, 17)) + [w - 1]:
                r, g, b = (clamp(v) for v in ycc(w, h, x, y))
                lines.append("%d %d %d %d %d %d" % (res, x, y, r, g, b))
    write("pcd-expected.txt", ("\n".join(lines) + "\n").encode())

    # Independent check: ImageMagick reads the Base picture (its default) and scales the
    # Photo YCC range 0..346 (1.3584 * 255) down to 0..255. Chroma-block edges are left out
    # (it interpolates the chroma).
    w, h, _ = PACKS[2]
    scale = 255.0 / (1.3584 * 255.0)
    for orientation in (0, 1, 3):
        turned = bytearray(data)
        turned[0xE02] = orientation
        write("turned.pcd", turned)
        im = run("convert", "turned.pcd", "-colorspace", "sRGB", "-depth", "8", "rgb:-",
                 stdout=subprocess.PIPE)
        os.remove("turned.pcd")
        ow, oh = (h, w) if orientation % 2 else (w, h)
        assert len(im) == ow * oh * 3
        worst = 0
        for y in range(3, h, 29):
            for x in range(5, w, 31):
                if (x // 2) % 8 in (0, 7) or (y // 2) % 8 in (0, 7):
                    continue
                if orientation == 0:
                    ox, oy = x, y
                elif orientation == 1:  # a quarter counter-clockwise
                    ox, oy = y, w - 1 - x
                else:  # a quarter clockwise
                    ox, oy = h - 1 - y, x
                want = [max(0.0, min(255.0, v * scale)) for v in ycc(w, h, x, y)]
                got = im[(oy * ow + ox) * 3:(oy * ow + ox) * 3 + 3]
                worst = max(worst, max(abs(a - b) for a, b in zip(want, got)))
        assert worst <= 2, "ImageMagick disagrees by %s at orientation %d" % (worst, orientation)


def main():
    os.chdir(os.path.dirname(os.path.abspath(__file__)))
    src = pattern()
    jpeg_fixtures(src)
    tiff_fixtures(src)
    pcd_fixtures()


if __name__ == "__main__":
    main()
