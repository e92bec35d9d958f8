#!/usr/bin/python3
"""Reads BMP files made by the streaming BMP writer's test with PIL and ImageMagick (each when
installed) and checks size, resolution and every pixel.

File names carry the parameters: w<width>_h<height>_b<bits>_a<ascending>_t<topdown>_g<levels>.bmp.
The pixel at (x, y) holds palette index (3x + 5y) mod colours; its grey follows the palette rule
(1 bit: white, black; otherwise a grey ramp over the first <levels> entries, or all of them).
Exit status 0 when every check passes."""
import os
import re
import shutil
import subprocess
import sys

MAGICK_CONVERT = "/usr/bin/convert"  # ImageMagick's own, should PATH hold another convert


def grey(index, bits, ascending, levels):
    if bits == 1:
        return 255 if index == 0 else 0
    top = (1 << bits) - 1
    step = 255 // top
    level = index
    if levels != 0 and index < levels:
        level = 0 if levels == 1 else top * index // (levels - 1)
    return level * step if ascending else 255 - level * step


def expected(path):
    m = re.fullmatch(r"w(\d+)_h(\d+)_b(\d+)_a(\d)_t(\d)_g(-?\d+)\.bmp", os.path.basename(path))
    w, h, bits, asc, _, levels = (int(v) for v in m.groups())
    pixels = bytes(grey((3 * x + 5 * y) % (1 << bits), bits, asc, levels)
                   for y in range(h) for x in range(w))
    return w, h, pixels


def check_pil(path, w, h, pixels):
    from PIL import Image
    with Image.open(path) as im:
        if im.format != "BMP" or im.size != (w, h):
            return f"PIL: {im.format} {im.size}, expected BMP {(w, h)}"
        dpi = im.info.get("dpi", (0, 0))
        if round(dpi[0]) != 72 or round(dpi[1]) != 72:
            return f"PIL: resolution {dpi}"
        if im.convert("L").tobytes() != pixels:
            return "PIL: pixels differ"
    return None


def check_magick(path, w, h, pixels):
    size = subprocess.run(["identify", "-format", "%m %w %h", path], capture_output=True,
                          text=True)
    fields = size.stdout.split()
    if size.returncode != 0 or fields[1:] != [str(w), str(h)] or fields[0] not in ("BMP", "BMP3"):
        return f"identify: {size.stdout!r} {size.stderr!r}"
    convert = MAGICK_CONVERT if os.path.exists(MAGICK_CONVERT) else shutil.which("convert")
    if convert:
        raw = subprocess.run([convert, path, "-depth", "8", "gray:-"], capture_output=True)
        if raw.returncode != 0 or raw.stdout != pixels:
            return "ImageMagick: pixels differ"
    return None


def main(paths):
    try:
        import PIL  # noqa: F401
        checkers = [check_pil]
    except ImportError:
        checkers = []
    if shutil.which("identify"):
        checkers.append(check_magick)
    failures = 0
    for path in paths:
        w, h, pixels = expected(path)
        for check in checkers:
            problem = check(path, w, h, pixels)
            if problem:
                print(f"{path}: {problem}")
                failures += 1
    print(f"{len(paths)} files, {len(checkers)} readers, {failures} failures")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
