#!/usr/bin/python3
"""Makes the JPEG reader's fixtures with tools independent of libdib.

Run with Debian's python3 (python3-pil) from this folder; needs cjpeg and djpeg
(libjpeg-turbo-progs) and ImageMagick's convert. The results are committed, so the tests need
none of these tools.

  source: a 37 x 29 pattern made here (src.ppm, not kept)
  rgb420.jpg         cjpeg, 4:2:0, JFIF without density    expected rgb420.ppm (djpeg),
                                                           as grey rgb420-grey.pgm (djpeg)
  progressive.jpg    cjpeg -progressive                    expected progressive.ppm (djpeg)
  grey.jpg           cjpeg -grayscale                      expected grey.pgm (djpeg)
  rgb444-dpi.jpg     PIL, 4:4:4, 300 x 150 dots per inch   expected rgb444-dpi.ppm (djpeg)
  rgb-dpcm.jpg       ImageMagick, 100 x 50 per centimetre  expected rgb-dpcm.ppm (djpeg)
  cmyk-im.jpg        ImageMagick CMYK (Adobe marker, inverted samples)
                                                           expected cmyk-im.cmyk (PIL, plain CMYK)
  cmyk-pil.jpg       PIL CMYK (Adobe marker, inverted)     expected cmyk-pil.cmyk (PIL)
  icc-im.jpg         ImageMagick -profile small.icc (lcms sRGB through PIL ImageCms)
  icc-split.jpg      PIL with big.icc (70000 bytes: the sRGB profile with a private tag), two
                     APP2 markers of 65519 + 4481 bytes (the tests swap and renumber them)
"""
import io
import os
import struct
import subprocess

from PIL import Image, ImageCms

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


def djpeg(jpg, out, fmt="-pnm"):
    with open(out, "wb") as f:
        f.write(run("djpeg", fmt, jpg, stdout=subprocess.PIPE))


def segments(data):
    """(offset, marker, length incl. the marker) of every segment before SOS."""
    out = []
    i = 2
    while i < len(data):
        assert data[i] == 0xFF
        marker = data[i + 1]
        length = struct.unpack(">H", data[i + 2:i + 4])[0]
        out.append((i, marker, length + 2))
        if marker == 0xDA:
            break
        i += length + 2
    return out


def big_profile(small, size):
    """small with one private tag appended so that the profile is size bytes long."""
    count = struct.unpack(">I", small[128:132])[0]
    table_end = 132 + 12 * count
    shift = 12
    tags = []
    for t in range(count):
        sig, off, ln = struct.unpack(">4sII", small[132 + 12 * t:144 + 12 * t])
        tags.append((sig, off + shift, ln))
    body = small[table_end:]
    base = len(small) + shift
    base += (-base) % 4
    pad_len = size - base
    tags.append((b"dibp", base, pad_len))
    table = struct.pack(">I", count + 1) + b"".join(struct.pack(">4sII", *t) for t in tags)
    data = bytearray(small[:128] + table + body)
    data += b"\0" * (base - len(data))
    pad = bytearray(pad_len)
    pad[0:4] = b"data"
    for i in range(8, pad_len):
        pad[i] = (i * 31) % 251
    data += pad
    data[0:4] = struct.pack(">I", len(data))
    assert len(data) == size
    return bytes(data)


def main():
    src = pattern()
    src.save("src.ppm")
    run("cjpeg", "-quality", "90", "-outfile", "rgb420.jpg", "src.ppm")
    djpeg("rgb420.jpg", "rgb420.ppm")
    with open("rgb420-grey.pgm", "wb") as f:
        f.write(run("djpeg", "-grayscale", "-pnm", "rgb420.jpg", stdout=subprocess.PIPE))
    run("cjpeg", "-quality", "90", "-progressive", "-outfile", "progressive.jpg", "src.ppm")
    djpeg("progressive.jpg", "progressive.ppm")
    run("cjpeg", "-quality", "90", "-grayscale", "-outfile", "grey.jpg", "src.ppm")
    djpeg("grey.jpg", "grey.pgm")
    src.save("rgb444-dpi.jpg", quality=90, subsampling=0, dpi=(300, 150))
    djpeg("rgb444-dpi.jpg", "rgb444-dpi.ppm")
    run("convert", "src.ppm", "-units", "PixelsPerCentimeter", "-density", "100x50",
        "-quality", "90", "rgb-dpcm.jpg")
    assert open("rgb-dpcm.jpg", "rb").read()[13:18] == bytes([2, 0, 100, 0, 50])
    djpeg("rgb-dpcm.jpg", "rgb-dpcm.ppm")

    run("convert", "src.ppm", "-colorspace", "CMYK", "-quality", "90", "cmyk-im.jpg")
    src.convert("CMYK").save("cmyk-pil.jpg", quality=90)
    for name in ("cmyk-im", "cmyk-pil"):
        data = open(name + ".jpg", "rb").read()
        assert any(m == 0xEE for _, m, _ in segments(data)), name + ": no Adobe marker"
        im = Image.open(name + ".jpg")
        assert im.mode == "CMYK"
        open(name + ".cmyk", "wb").write(im.tobytes())

    small = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
    open("small.icc", "wb").write(small)
    run("convert", "src.ppm", "-profile", "small.icc", "-quality", "90", "icc-im.jpg")
    assert run("convert", "icc-im.jpg", "icc:-", stdout=subprocess.PIPE) == small

    big = big_profile(small, 70000)
    ImageCms.ImageCmsProfile(io.BytesIO(big))  # lcms accepts it
    open("big.icc", "wb").write(big)
    src.save("icc-split.jpg", quality=90, icc_profile=big)
    data = open("icc-split.jpg", "rb").read()
    app2 = [(o, ln) for o, m, ln in segments(data) if m == 0xE2]
    assert len(app2) == 2 and app2[0][0] + app2[0][1] == app2[1][0]
    assert Image.open("icc-split.jpg").info["icc_profile"] == big
    (o1, l1), (o2, l2) = app2
    first, second = data[o1:o1 + l1], data[o2:o2 + l2]
    assert first[16] == 1 and second[16] == 2 and first[17] == second[17] == 2
    assert l1 - 18 == 65519 and l2 - 18 == 4481
    os.remove("src.ppm")


if __name__ == "__main__":
    main()
