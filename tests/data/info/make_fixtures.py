#!/usr/bin/python3
"""Makes the palette fixtures of the file-information tests with Pillow (Debian's python3-pil),
independent of this library. Run from this folder with Debian's /usr/bin/python3.

  grey8.bmp    7 x 5, 8-bit palette BMP whose 256 entries are the grey ramp 0..255
  pal8.bmp     7 x 5, 8-bit palette BMP of 256 entries: entry i = (i, 255 - i, 7)
  pal8.pcx     the same picture as an 8-bit ZSoft PCX
"""
from PIL import Image

W, H = 7, 5
data = [(x * 37 + y * 11) % 256 for y in range(H) for x in range(W)]

grey = Image.new("L", (W, H))
grey.putdata(data)
grey.save("grey8.bmp")

pal = Image.new("P", (W, H))
pal.putdata(data)
pal.putpalette([c for i in range(256) for c in (i, 255 - i, 7)])
pal.save("pal8.bmp")
pal.save("pal8.pcx")
