#!/usr/bin/python3
"""Reads the ICC profile of a JPEG with PIL and with ImageMagick (each when installed) and
compares it with a profile file: check_icc.py image.jpg profile.icc. Exit status 0 when every
reader that is installed gives the same bytes; 2 when none is installed."""
import os
import subprocess
import sys

MAGICK_CONVERT = "/usr/bin/convert"  # ImageMagick's own, should PATH hold another convert


def main(image, profile):
    want = open(profile, "rb").read()
    checked = 0
    try:
        from PIL import Image
        got = Image.open(image).info.get("icc_profile")
        if got != want:
            print("PIL: profile of %s differs (%s bytes)" % (image, len(got or b"")))
            return 1
        checked += 1
    except ImportError:
        pass
    if os.path.exists(MAGICK_CONVERT):
        got = subprocess.run([MAGICK_CONVERT, image, "icc:-"], stdout=subprocess.PIPE).stdout
        if got != want:
            print("ImageMagick: profile of %s differs (%d bytes)" % (image, len(got)))
            return 1
        checked += 1
    return 0 if checked else 2


if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2]))
