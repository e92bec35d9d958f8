#!/usr/bin/python3
"""Makes the PNG fixtures of the file-information tests with Pillow (Debian's python3-pil),
independent of this library. Run from this folder with Debian's /usr/bin/python3.

  rgb8_dpi.png       7 x 5 RGB, 8 bits, pHYs 300 x 150 dpi (11811 x 5906 pixels per metre)
  rgba8_icc.png      7 x 5 RGBA, 8 bits, iCCP holding ../jpeg/small.icc, no pHYs
  greya8.png         7 x 5 grey + alpha, 8 bits
  grey16.png         7 x 5 grey, 16 bits
  palette_trns.png   7 x 5 palette with a transparent entry (tRNS)
  bilevel.png        7 x 5 grey, 1 bit
"""
from PIL import Image

W, H = 7, 5


def ramp(mode, f):
    im = Image.new(mode, (W, H))
    im.putdata([f(x, y) for y in range(H) for x in range(W)])
    return im


ramp("RGB", lambda x, y: (x * 30, y * 50, 200)).save("rgb8_dpi.png", dpi=(300, 150))
with open("../jpeg/small.icc", "rb") as f:
    icc = f.read()
ramp("RGBA", lambda x, y: (x * 30, y * 50, 90, 255 - x)).save("rgba8_icc.png", icc_profile=icc)
ramp("LA", lambda x, y: (x * 30, 255 - y)).save("greya8.png")
ramp("I;16", lambda x, y: x * 9000 + y).save("grey16.png")
pal = ramp("P", lambda x, y: (x + y) % 4)
pal.putpalette([0, 0, 0, 255, 0, 0, 0, 255, 0, 0, 0, 255])
pal.save("palette_trns.png", transparency=2)
ramp("1", lambda x, y: (x + y) % 2).save("bilevel.png")
