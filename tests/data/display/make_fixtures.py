#!/usr/bin/python3
# Fixtures of the display tests, written with PIL (python3-pil):
#   rgba.png  4 x 2 RGBA, red with alpha 128 in the top row, opaque blue below.
#   quads.png, ramp.png  below (the dibtool print and render tests).
import os
from PIL import Image

here = os.path.dirname(os.path.abspath(__file__))
img = Image.new("RGBA", (4, 2))
for x in range(4):
    img.putpixel((x, 0), (255, 0, 0, 128))
    img.putpixel((x, 1), (0, 0, 255, 255))
img.save(os.path.join(here, "rgba.png"))

# quads.png  40 x 30 RGB, four flat quarters of 20 x 15: red, green on top; blue, yellow below.
quads = Image.new("RGB", (40, 30))
colours = [(200, 30, 30), (30, 160, 60), (40, 60, 190), (230, 200, 40)]
for y in range(30):
    for x in range(40):
        quads.putpixel((x, y), colours[(y // 15) * 2 + x // 20])
quads.save(os.path.join(here, "quads.png"))

# ramp.png  16 x 12 RGB, pixel (x, y) = (16x, 20y, 255 - 8x - 8y).
ramp = Image.new("RGB", (16, 12))
for y in range(12):
    for x in range(16):
        ramp.putpixel((x, y), (16 * x, 20 * y, 255 - 8 * x - 8 * y))
ramp.save(os.path.join(here, "ramp.png"))
