#!/usr/bin/python3
"""Makes the Photoshop documents under tests/data/psd/ with two independent writers,
ImageMagick (/usr/bin/convert) and python3-psd-tools, and records what an independent decoder
reads back from each (so that the tests need neither tool).

For every document NAME.psd it writes NAME.planes: the channel planes of the composite as
psd-tools decodes them (every channel, plane after plane, samples as stored: one byte, or two
bytes big-endian). Indexed documents also get NAME.rgb: psd-tools' composite as 8-bit RGB.
The script checks each decode against the pattern it wrote wherever the writer keeps samples
exactly.

Run from the repository root: scripts/make-psd-fixtures.py
Needs: imagemagick, python3-psd-tools, python3-pil (Debian packages).
"""
import os
import struct
import subprocess
import sys
import tempfile

from PIL import Image, ImageCms
from psd_tools import PSDImage
from psd_tools.constants import Compression
from psd_tools.psd.image_resources import ImageResource

OUT = os.path.join("tests", "data", "psd")
CONVERT = "/usr/bin/convert"
W, H = 7, 5


def pattern8(x, y, c):
    if (x, y) == (0, 0):
        return 255  # one white pixel
    if (x, y) == (1, 0):
        return 0  # one black pixel
    return (x * 37 + y * 53 + c * 91) % 256


def pattern16(x, y, c):
    return pattern8(x, y, c) * 256 + (x * 29 + y * 7 + c * 13 + 0x11) % 256


def write_pnm(path, channels, depth, alpha=False):
    """A PAM file of the pattern, for ImageMagick to read exactly."""
    pat = pattern16 if depth == 16 else pattern8
    n = channels + (1 if alpha else 0)
    tupl = {1: "GRAYSCALE", 2: "GRAYSCALE_ALPHA", 3: "RGB", 4: "RGB_ALPHA"}[n]
    maxval = 65535 if depth == 16 else 255
    body = bytearray()
    for y in range(H):
        for x in range(W):
            for c in range(n):
                v = pat(x, y, c) if c < channels else pat(x, y, 7)
                body += struct.pack(">H", v) if depth == 16 else bytes([v])
    head = f"P7\nWIDTH {W}\nHEIGHT {H}\nDEPTH {n}\nMAXVAL {maxval}\nTUPLTYPE {tupl}\nENDHDR\n"
    with open(path, "wb") as f:
        f.write(head.encode() + body)


def decode_planes(path):
    psd = PSDImage.open(path)
    planes = psd._record.image_data.get_data(psd._record.header, split=True)
    return psd, b"".join(planes)


def record(name, check=None):
    path = os.path.join(OUT, name + ".psd")
    psd, planes = decode_planes(path)
    with open(os.path.join(OUT, name + ".planes"), "wb") as f:
        f.write(planes)
    if psd.color_mode == 2:
        rgb = psd.composite().convert("RGB").tobytes()
        with open(os.path.join(OUT, name + ".rgb"), "wb") as f:
            f.write(rgb)
    if check is not None:
        depth = psd.depth
        pat = pattern16 if depth == 16 else pattern8
        s = depth // 8
        for c in range(check):
            for i in range(W * H):
                x, y = i % W, i // W
                at = (c * W * H + i) * s
                got = planes[at] if s == 1 else struct.unpack(">H", planes[at:at + 2])[0]
                if got != pat(x, y, c):
                    sys.exit(f"{name}: channel {c} pixel {i}: {got} != {pat(x, y, c)}")


def im(name, src, *args, check=None):
    path = os.path.join(OUT, name + ".psd")
    subprocess.run([CONVERT, src, *args, path], check=True)
    record(name, check)


def pil_pattern(mode):
    bands = {"RGB": 3, "RGBA": 4, "L": 1, "CMYK": 4, "LAB": 3}[mode]
    img = Image.new(mode, (W, H))
    img.putdata([tuple(pattern8(x, y, c) for c in range(bands)) if bands > 1 else pattern8(x, y, 0)
                 for y in range(H) for x in range(W)])
    return img


def pt(name, mode, compression, resources=(), check=True):
    psd = PSDImage.frompil(pil_pattern(mode) if mode != "1" else
                           Image.new("1", (W, H), 1), compression=compression)
    for key, data in resources:
        psd._record.image_resources[key] = ImageResource(key=key, data=data)
    path = os.path.join(OUT, name + ".psd")
    psd.save(path)
    if mode == "1":
        return
    bands = {"RGB": 3, "RGBA": 4, "L": 1, "CMYK": 4, "LAB": 3}[mode]
    record(name, bands if check else None)


def main():
    os.makedirs(OUT, exist_ok=True)
    icc = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
    with tempfile.TemporaryDirectory() as tmp:
        icc_path = os.path.join(tmp, "srgb.icc")
        with open(icc_path, "wb") as f:
            f.write(icc)
        src = {}
        for key, ch, depth, alpha in [("rgb8", 3, 8, False), ("rgb16", 3, 16, False),
                                      ("rgba8", 3, 8, True), ("grey8", 1, 8, False),
                                      ("grey16", 1, 16, False), ("greya8", 1, 8, True)]:
            src[key] = os.path.join(tmp, key + ".pam")
            write_pnm(src[key], ch, depth, alpha)

        # ImageMagick: raw and PackBits, 8 and 16 bits, extra channels, resolution (1005),
        # ICC profile (1039), CMYK and indexed.
        im("im_rgb8_raw", src["rgb8"], "-density", "300", "-units", "PixelsPerInch",
           "-depth", "8", "-compress", "None", check=3)
        im("im_rgb8_rle", src["rgb8"], "-density", "72", "-units", "PixelsPerInch",
           "-depth", "8", "-compress", "RLE", check=3)
        im("im_rgb16_raw", src["rgb16"], "-depth", "16", "-compress", "None", check=3)
        im("im_rgb16_rle", src["rgb16"], "-depth", "16", "-compress", "RLE", check=3)
        im("im_rgba8_raw", src["rgba8"], "-depth", "8", "-compress", "None", check=3)
        im("im_rgba8_rle", src["rgba8"], "-depth", "8", "-compress", "RLE", check=3)
        im("im_grey8_raw", src["grey8"], "-depth", "8", "-compress", "None", check=1)
        im("im_grey16_rle", src["grey16"], "-depth", "16", "-compress", "RLE", check=1)
        im("im_greya8_rle", src["greya8"], "-depth", "8", "-compress", "RLE", check=1)
        im("im_cmyk8_rle", src["rgb8"], "-colorspace", "CMYK", "-depth", "8", "-compress", "RLE")
        im("im_cmyk8_raw", src["rgb8"], "-colorspace", "CMYK", "-depth", "8", "-compress", "None")
        im("im_cmyk16_rle", src["rgb16"], "-colorspace", "CMYK", "-depth", "16", "-compress",
           "RLE")
        im("im_indexed_rle", src["rgb8"], "-colors", "16", "-type", "Palette", "-depth", "8",
           "-compress", "RLE")
        im("im_indexed_raw", src["rgb8"], "-colors", "16", "-type", "Palette", "-depth", "8",
           "-compress", "None")
        im("im_icc_rle", src["rgb8"], "-profile", icc_path, "-depth", "8", "-compress", "RLE",
           check=3)

    # psd-tools: raw and PackBits, Lab, CMYK, greyscale, an extra channel, and resources
    # ImageMagick does not write: global angle (1037), copyright (1034), alpha names (1006),
    # resolution (1005) and an ICC profile (1039).
    res = [
        (1005, struct.pack(">8H", 300, 0, 1, 1, 150, 0, 1, 1)),
        (1037, struct.pack(">i", 120)),
        (1034, b"\x01\x00"),
        (1006, b"\x05Alpha\x04Mask"),
        (1039, icc),
    ]
    pt("pt_rgb8_raw", "RGB", Compression.RAW, res)
    pt("pt_rgb8_rle", "RGB", Compression.RLE)
    pt("pt_rgba8_rle", "RGBA", Compression.RLE)
    pt("pt_lab8_raw", "LAB", Compression.RAW)
    pt("pt_lab8_rle", "LAB", Compression.RLE)
    pt("pt_cmyk8_raw", "CMYK", Compression.RAW)
    pt("pt_grey8_rle", "L", Compression.RLE)
    pt("pt_bitmap_rle", "1", Compression.RLE)


if __name__ == "__main__":
    main()
