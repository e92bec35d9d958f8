#!/usr/bin/python3
"""Makes the file-module fixtures with independent writers (python3-pil, ImageMagick) and the
pixels every reader must give: <file>.rgb (8-bit red, green, blue, rows top to bottom) and, for
files with transparency, <file>.a (one alpha byte per pixel). The pixels come from PIL's own
decoder; where ImageMagick also reads the file, its pixels are compared with PIL's and the
script stops on a difference (a peer's bug must not become our expectation).

Run with /usr/bin/python3 (Debian's PIL) from this folder; the outputs are committed.
"""
import io
import os
import struct
import subprocess
import sys

from PIL import Image

W, H = 13, 7  # odd sizes: rows need padding in every layout


def rgb_pattern():
    im = Image.new("RGB", (W, H))
    for y in range(H):
        for x in range(W):
            im.putpixel((x, y), ((x * 19 + y * 7) % 256, (y * 37) % 256, (x * y * 11 + 40) % 256))
    return im


def few_colours(n):
    """A palette picture using n colours."""
    im = Image.new("P", (W, H))
    pal = []
    for i in range(n):
        pal += [(i * 53) % 256, (i * 97 + 30) % 256, (255 - i * 29) % 256]
    pal += [0] * (768 - len(pal))
    im.putpalette(pal)
    for y in range(H):
        for x in range(W):
            im.putpixel((x, y), (x + 2 * y) % n)
    return im


def grey_pattern():
    im = Image.new("L", (W, H))
    for y in range(H):
        for x in range(W):
            im.putpixel((x, y), (x * 20 + y * 3) % 256)
    return im


def rgba_pattern():
    im = rgb_pattern().convert("RGBA")
    for y in range(H):
        for x in range(W):
            r, g, b, _ = im.getpixel((x, y))
            im.putpixel((x, y), (r, g, b, (x * 21 + y * 5) % 256))
    return im


def magick_rgb(path):
    try:
        out = subprocess.run(["convert", path + "[0]", "-depth", "8", "rgb:-"], check=True,
                             capture_output=True).stdout
    except (OSError, subprocess.CalledProcessError):
        return None
    return out


def expect(name, alpha=False, magick=True, tolerance=0, truth=None):
    im = Image.open(name)
    im.load()
    rgb = im.convert("RGB").tobytes()
    with open(name + ".rgb", "wb") as f:
        f.write(rgb)
    if alpha:
        with open(name + ".a", "wb") as f:
            f.write(im.convert("RGBA").tobytes()[3::4])
    if truth is not None:
        if truth.convert("RGB").tobytes() != rgb:
            sys.exit("PIL misreads %s" % name)
    elif magick:
        other = magick_rgb(name)
        if other is None or len(other) != len(rgb):
            sys.exit("ImageMagick cannot read %s" % name)
        worst = max(abs(a - b) for a, b in zip(rgb, other))
        if worst > tolerance:
            sys.exit("PIL and ImageMagick disagree on %s (by %d)" % (name, worst))


def magick(src_im, out, *options):
    tmp = "_src.png"
    src_im.save(tmp)
    subprocess.run(["convert", tmp, *options, out], check=True)
    os.remove(tmp)


def rle4_bmp(im, name):
    """A 4-bit RLE BMP by a small encoder of our own (no writer at hand makes them): encoded
    runs for repeated pixels, absolute runs otherwise; decoded by PIL and ImageMagick below."""
    pal = im.getpalette()[:48]
    rows = []
    for y in range(H - 1, -1, -1):  # bottom-up
        px = [im.getpixel((x, y)) for x in range(W)]
        out = bytearray()
        x = 0
        while x < W:
            run = 1
            while x + run < W and px[x + run] == px[x] and run < 255:
                run += 1
            if run >= 2 or W - x < 3:
                out += bytes([run if run >= 2 else 1, (px[x] << 4) | px[x]])
                x += run if run >= 2 else 1
                continue
            n = min(W - x, 5)
            data = bytearray()
            for i in range(0, n, 2):
                hi = px[x + i]
                lo = px[x + i + 1] if i + 1 < n else 0
                data.append((hi << 4) | lo)
            if len(data) % 2:
                data.append(0)
            out += bytes([0, n]) + data
            x += n
        out += b"\x00\x00"
        rows.append(out)
    data = b"".join(rows) + b"\x00\x01"
    table = b"".join(bytes([pal[3 * i + 2], pal[3 * i + 1], pal[3 * i], 0]) for i in range(16))
    off = 14 + 40 + len(table)
    hdr = struct.pack("<2sIHHI", b"BM", off + len(data), 0, 0, off)
    info = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 4, 2, len(data), 2835, 2835, 16, 0)
    with open(name, "wb") as f:
        f.write(hdr + info + table + data)


def top_down_bmp(src, name):
    """The same picture with its rows stored top-down (negative height)."""
    b = bytearray(open(src, "rb").read())
    off = struct.unpack_from("<I", b, 10)[0]
    w, h = struct.unpack_from("<ii", b, 18)
    bits = struct.unpack_from("<H", b, 28)[0]
    stride = ((w * bits + 31) // 32) * 4
    rows = [bytes(b[off + i * stride: off + (i + 1) * stride]) for i in range(h)]
    b[off: off + stride * h] = b"".join(reversed(rows))
    struct.pack_into("<i", b, 22, -h)
    with open(name, "wb") as f:
        f.write(b)


def main():
    rgb = rgb_pattern()
    # BMP
    rgb.convert("1").save("bmp1.bmp")
    expect("bmp1.bmp")
    magick(few_colours(12), "BMP3:bmp4.bmp", "-compress", "none", "-type", "Palette", "-colors", "16")
    expect("bmp4.bmp")
    few_colours(40).save("bmp8.bmp")
    expect("bmp8.bmp")
    magick(rgb, "BMP:bmp16.bmp", "-define", "bmp:subtype=RGB555")
    expect("bmp16.bmp", tolerance=2)
    magick(rgb, "BMP:bmp16_565.bmp", "-define", "bmp:subtype=RGB565")
    expect("bmp16_565.bmp", tolerance=2)
    rgb.save("bmp24.bmp", dpi=(300, 150))
    expect("bmp24.bmp")
    top_down_bmp("bmp24.bmp", "bmp24_topdown.bmp")
    expect("bmp24_topdown.bmp")
    # PIL reads 32-bit BMPs without their alpha: ImageMagick's reading (colour and alpha) is
    # checked against the picture it was given, which becomes the expectation.
    magick(rgba_pattern(), "BMP:bmp32.bmp")
    rgba = subprocess.run(["convert", "bmp32.bmp", "-depth", "8", "rgba:-"], check=True,
                          capture_output=True).stdout
    if rgba != rgba_pattern().tobytes():
        sys.exit("ImageMagick misreads bmp32.bmp")
    with open("bmp32.bmp.rgb", "wb") as f:
        f.write(rgba_pattern().convert("RGB").tobytes())
    with open("bmp32.bmp.a", "wb") as f:
        f.write(rgba[3::4])
    magick(few_colours(40), "BMP3:bmp_rle8.bmp", "-type", "Palette", "-compress", "RLE")
    expect("bmp_rle8.bmp")
    # PIL 9.4 misreads absolute runs of RLE4 files: ImageMagick's reading is checked against
    # the picture the encoder was given, and becomes the expectation.
    rle4_bmp(few_colours(9), "bmp_rle4.bmp")
    truth = few_colours(9).convert("RGB").tobytes()
    if magick_rgb("bmp_rle4.bmp") != truth:
        sys.exit("ImageMagick misreads bmp_rle4.bmp")
    with open("bmp_rle4.bmp.rgb", "wb") as f:
        f.write(truth)
    # PCX
    # ImageMagick colours 1-bit PCX files from their header palette, which PIL leaves black:
    # the picture PIL was given is the check here.
    rgb.convert("1").save("pcx1.pcx")
    expect("pcx1.pcx", truth=rgb.convert("1"))
    magick(few_colours(12), "pcx4.pcx", "-type", "Palette", "-colors", "12")
    expect("pcx4.pcx")
    few_colours(40).save("pcx8.pcx")
    expect("pcx8.pcx")
    rgb.save("pcx24.pcx", dpi=(200, 200))
    expect("pcx24.pcx")
    # TGA: ImageMagick 6 gets the row order wrong for the declared origin, so PIL writes them
    # and PIL's reading is checked against the picture it was given.
    rgb.save("tga24.tga")
    expect("tga24.tga", truth=rgb)
    rgba_pattern().save("tga32_rle.tga", compression="tga_rle")
    expect("tga32_rle.tga", alpha=True, truth=rgba_pattern())
    few_colours(40).save("tga8_map.tga", orientation=1)
    expect("tga8_map.tga", truth=few_colours(40))
    grey_pattern().save("tga8_grey_rle.tga", compression="tga_rle")
    expect("tga8_grey_rle.tga", truth=grey_pattern())
    # GIF
    few_colours(40).save("gif8.gif")
    expect("gif8.gif")
    few_colours(2).save("gif1.gif")
    expect("gif1.gif")
    magick(few_colours(40), "gif_interlaced.gif", "-interlace", "GIF")
    expect("gif_interlaced.gif")
    # PNG
    rgb.save("png24.png", dpi=(300, 300))
    expect("png24.png")
    rgba_pattern().save("png32.png")
    expect("png32.png", alpha=True)
    grey_pattern().save("png8_grey.png")
    expect("png8_grey.png")
    grey_pattern().convert("LA").save("png_grey_alpha.png")
    la = Image.open("png_grey_alpha.png")
    la = la.copy()
    for y in range(H):
        for x in range(W):
            la.putpixel((x, y), (la.getpixel((x, y))[0], (x * 17 + y) % 256))
    la.save("png_grey_alpha.png")
    expect("png_grey_alpha.png", alpha=True)
    rgb.convert("1").save("png1.png")
    expect("png1.png")
    few_colours(12).save("png4_pal.png", bits=4)
    expect("png4_pal.png")
    pal = few_colours(40)
    pal.info["transparency"] = 3
    pal.save("png8_pal_trns.png", transparency=3)
    expect("png8_pal_trns.png")
    magick(rgb, "PNG48:png48.png", "-depth", "16")
    expect("png48.png", tolerance=1)
    magick(rgb, "png_interlaced.png", "-interlace", "PNG")
    expect("png_interlaced.png")
    from PIL import ImageCms
    icc = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
    rgb.save("png_icc.png", icc_profile=icc)
    with open("png_icc.png.icc", "wb") as f:
        f.write(icc)
    expect("png_icc.png")


if __name__ == "__main__":
    os.chdir(os.path.dirname(os.path.abspath(__file__)))
    main()
