#!/usr/bin/python3
# Fixtures of the display tests, written with PIL (python3-pil):
#   rgba.png  4 x 2 RGBA, red with alpha 128 in the top row, opaque blue below.
import os
from PIL import Image

here = os.path.dirname(os.path.abspath(__file__))
img = Image.new("RGBA", (4, 2))
for x in range(4):
    img.putpixel((x, 0), (255, 0, 0, 128))
    img.putpixel((x, 1), (0, 0, 255, 255))
img.save(os.path.join(here, "rgba.png"))
