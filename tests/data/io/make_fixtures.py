#!/usr/bin/python3
"""Fixtures of the open and save tests, written by tifffile (Debian's python3-tifffile).

  rgb8_tiled16.tif  tests/data/tiff/rgb8_big.tif's pixels (37 x 40 RGB) in 16 x 16 tiles
Run from this folder.
"""
import numpy as np
import tifffile

y, x, c = np.mgrid[0:40, 0:37, 0:3]
tifffile.imwrite("rgb8_tiled16.tif", ((x * 5 + y * 3 + c * 80) % 256).astype(np.uint8),
                 photometric="rgb", tile=(16, 16))
