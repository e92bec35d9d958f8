#!/usr/bin/python3
"""Makes the file-preview fixtures and their expected previews with Pillow (Debian's
python3-pil), independent of this library. Run from this folder with Debian's /usr/bin/python3.

Every expected preview is NAME.WxH.rgb: raw red, green, blue bytes, rows from the top. It is
the boxed preview worked out here: the file fitted in twice the box (sides rounded half away
from zero), reduced by area averaging (Pillow's BOX filter), centred on the background, then
halved by area averaging.

  wide.png          400 x 100 RGB            box 100 x 100, white
  tall.tif          100 x 400 RGB, LZW       box 100 x 100, white
  photo.jpg         1000 x 1000 RGB, q 85    box 101 x 101 (the 30 KiB budget), white
  cmyk.tif          160 x 120 CMYK, LZW      box 80 x 60 (CMYK shown as 255 - ink - black)
  rgba.png          160 x 80 RGBA            box 80 x 40; colours over white first
  grey_wide.png     240 x 60 grey            box 60 x 60 on red (COLORREF 0x0000FF)
  bilevel.png       64 x 32, 1 bit           box 32 x 32 on blue (COLORREF 0xFF0000)
  bilevel_g4.tif    the same picture, 1 bit, CCITT group 4, the same box
  bottom_up.bmp     90 x 60 RGB, rows stored bottom first    box 45 x 30
  lab.tif           16 x 16 CIELab (no preview)
"""
import math

from PIL import Image, ImageDraw


def half_away(v):
    return int(math.floor(v + 0.5)) if v >= 0 else -int(math.floor(-v + 0.5))


def fit(w, h, cw, ch):
    a = h / w
    if a > ch / cw:
        fh, fw, by_height = ch, max(1, half_away(ch / a)), True
        if fw > cw:
            fw, fh = cw, max(1, half_away(cw * a))
    else:
        fw, fh, by_height = cw, max(1, half_away(cw * a)), False
        if fh > ch:
            fh, fw = ch, max(1, half_away(ch / a))
    return fw, fh, by_height


def boxed(im, bw, bh, background):
    cw, ch = 2 * bw, 2 * bh
    fw, fh, by_height = fit(im.width, im.height, cw, ch)
    small = im.resize((fw, fh), Image.BOX)
    canvas = Image.new("RGB", (cw, ch), background)
    if by_height:
        canvas.paste(small, ((cw - fw) // 2, 0))
    else:
        canvas.paste(small, (0, (ch - fh) // 2))
    return canvas.resize((bw, bh), Image.BOX)


def expect(name, im, bw, bh, background=(255, 255, 255)):
    out = boxed(im.convert("RGB"), bw, bh, background)
    with open("%s.%dx%d.rgb" % (name, bw, bh), "wb") as f:
        f.write(out.tobytes())


def picture(w, h):
    im = Image.new("RGB", (w, h))
    im.putdata([((x * 255) // (w - 1), (y * 255) // (h - 1), ((x + y) * 255) // (w + h - 2))
                for y in range(h) for x in range(w)])
    d = ImageDraw.Draw(im)
    d.rectangle([w // 5, h // 5, w // 2, h // 2], fill=(20, 200, 60))
    d.ellipse([w // 2, h // 3, w - w // 8, h - h // 8], fill=(230, 40, 90))
    return im


wide = picture(400, 100)
wide.save("wide.png")
expect("wide", wide, 100, 100)

tall = picture(100, 400)
tall.save("tall.tif", compression="tiff_lzw")
expect("tall", tall, 100, 100)

photo = picture(1000, 1000)
photo.save("photo.jpg", quality=85)
expect("photo", Image.open("photo.jpg"), 101, 101)

# CMYK inks that never pass 255 with black, so the display colours are exact.
cmyk = Image.new("CMYK", (160, 120))
cmyk.putdata([(x * 150 // 159, y * 150 // 119, (x + y) * 100 // 278, (x + 2 * y) * 100 // 398)
              for y in range(120) for x in range(160)])
cmyk.save("cmyk.tif", compression="tiff_lzw")
shown = Image.new("RGB", cmyk.size)
shown.putdata([(255 - c - k, 255 - m - k, 255 - yy - k) for (c, m, yy, k) in cmyk.getdata()])
expect("cmyk", shown, 80, 60)

# Alpha constant over each 2 x 2 block, so averaging colours before or after compositing over
# white agree.
rgba = Image.new("RGBA", (160, 80))
rgba.putdata([((x * 3) % 256, (y * 5) % 256, 128, ((x // 2) * 16 + (y // 2) * 8) % 256)
              for y in range(80) for x in range(160)])
rgba.save("rgba.png")
white = Image.new("RGBA", rgba.size, (255, 255, 255, 255))
expect("rgba", Image.alpha_composite(white, rgba), 80, 40)

grey = picture(240, 60).convert("L")
grey.save("grey_wide.png")
expect("grey_wide", grey, 60, 60, background=(255, 0, 0))

bilevel = Image.new("1", (64, 32), 1)
ImageDraw.Draw(bilevel).rectangle([8, 8, 40, 24], fill=0)
bilevel.save("bilevel.png")
expect("bilevel", bilevel, 32, 32, background=(0, 0, 255))
bilevel.save("bilevel_g4.tif", compression="group4")
expect("bilevel_g4", bilevel, 32, 32, background=(0, 0, 255))

bottom = picture(90, 60)
ImageDraw.Draw(bottom).rectangle([0, 0, 89, 9], fill=(0, 0, 0))
bottom.save("bottom_up.bmp")
expect("bottom_up", bottom, 45, 30)

Image.new("LAB", (16, 16), (50, 10, 20)).save("lab.tif")
