"""Writes the TIFF fixtures (first pass) and the reference samples (--samples pass)."""
import glob
import io
import sys

import numpy as np
import tifffile
from PIL import Image

W, H = 7, 5  # odd sizes: partial bytes and unaligned lines


def ramp(channels, scale=1, dtype=np.uint8):
    y, x, c = np.mgrid[0:H, 0:W, 0:channels]
    return ((x * 37 + y * 11 + c * 53) * scale % (np.iinfo(dtype).max + 1)).astype(dtype)


def first_pass():
    grey = ramp(1)[..., 0]
    tifffile.imwrite("grey8.tif", grey, photometric="minisblack", resolution=(300, 300))
    tifffile.imwrite("grey8_miniswhite.tif", grey, photometric="miniswhite")
    bits = (ramp(1)[..., 0] % 3 == 0)
    tifffile.imwrite("bilevel_miniswhite.tif", bits, photometric="miniswhite")
    tifffile.imwrite("bilevel_minisblack.tif", bits, photometric="minisblack")
    with open("grey4.raw", "wb") as f:
        f.write(((ramp(1)[..., 0] % 16) * 17).astype(np.uint8).tobytes())
    tifffile.imwrite("rgb8.tif", ramp(3), photometric="rgb")
    y, x, c = np.mgrid[0:40, 0:37, 0:3]
    tifffile.imwrite("rgb8_big.tif", ((x * 5 + y * 3 + c * 80) % 256).astype(np.uint8),
                     photometric="rgb")
    tifffile.imwrite("tiled_cmyk.tif", np.zeros((32, 32, 4), np.uint8), photometric="separated",
                     tile=(16, 16))
    # RGBA: associated alpha with premultiplied colour (alpha 0 on one pixel), unassociated.
    straight = ramp(3)
    alpha = ramp(1, 7)[..., 0]
    alpha[0, 0] = 0
    premul = (straight.astype(np.uint32) * alpha[..., None] // 255).astype(np.uint8)
    tifffile.imwrite("rgba8_assoc.tif", np.dstack([premul, alpha]), photometric="rgb",
                     extrasamples=[1])
    tifffile.imwrite("rgba8_unassoc.tif", np.dstack([straight, alpha]), photometric="rgb",
                     extrasamples=[2])
    inkset = [(332, "H", 1, 1, True)]
    tifffile.imwrite("cmyk8.tif", ramp(4), photometric="separated", extratags=inkset)
    tifffile.imwrite("cmyk8_noinkset.tif", ramp(4), photometric="separated")
    tifffile.imwrite("cmyk_spots.tif", ramp(6), photometric="separated", planarconfig="contig",
                     extratags=inkset)
    tifffile.imwrite("lab8.tif", ramp(3), photometric="cielab")
    tifffile.imwrite("rgb16.tif", ramp(3, 1001, np.uint16), photometric="rgb")
    tifffile.imwrite("grey16_miniswhite.tif", ramp(1, 997, np.uint16)[..., 0],
                     photometric="miniswhite")
    tifffile.imwrite("rgba16_assoc.tif", np.dstack([ramp(3, 211, np.uint16) // 2,
                                                    np.full((H, W), 32768, np.uint16)]),
                     photometric="rgb", extrasamples=[1])
    # Palette files through PIL (8-bit and 4-bit ColorMaps).
    pal = Image.fromarray((ramp(1)[..., 0] % 200).astype(np.uint8), "L").convert("P")
    pal.putpalette([(i * 3 + k * 40) % 256 for i in range(256) for k in range(3)])
    pal.save("palette8.tif")
    ycc = Image.fromarray(np.dstack([np.full((H, W), 255, np.uint8), np.full((H, W), 128, np.uint8),
                                     ramp(1)[..., 0]]), "YCbCr")
    ycc.save("ycbcr8.tif")
    # An ICC profile (any bytes: libtiff does not look inside).
    icc = bytes(range(256)) * 2 + b"profile-end"
    Image.fromarray(ramp(3), "RGB").save("rgb8_icc.tif", icc_profile=icc)
    with open("rgb8_icc.icc", "wb") as f:
        f.write(icc)


def samples_pass():
    for name in sorted(glob.glob("*.tif")):
        try:
            # The page itself: a copied file keeps tifffile's shape description of the
            # original, which does not fit separate planes.
            with tifffile.TiffFile(name) as t:
                page = t.pages[0]
                data = page.asarray()
                if page.planarconfig == 2 and data.ndim == 3:
                    data = np.moveaxis(data, 0, -1)
        except (NotImplementedError, ValueError):
            # Compressed and 4-bit data need codecs Debian's tifffile lacks: PIL decodes them.
            img = Image.open(name)
            data = np.array(img)
            if img.mode == "1":
                data = data.astype(np.uint8)
        if data.dtype == bool:
            data = data.astype(np.uint8)
        # CIELab a* and b* come back signed; the file holds their bytes.
        data.astype(data.dtype.newbyteorder("<"), copy=False).tofile(name[:-4] + ".samples")


if __name__ == "__main__":
    samples_pass() if "--samples" in sys.argv else first_pass()
