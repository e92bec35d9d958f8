#!/usr/bin/env python3
"""Checks the include layering of the source tree.

Rules:
  1. A stand-in (src/outside/...) includes nothing of the library: no <dib/...> header and no
     header of a library folder.
  2. A folder includes only folders listed before it in LAYERS (and itself). Both a
     component's own prefix (<raster/kernel.h>) and relative paths ("../win/gdi.h") count.
  3. A header named *_internal.h, or one under an internal/ folder of a stand-in, is included
     only from its own folder and from that folder's tests.
  4. tools/ and examples/ include only the public interface (<dib/...>).
Exit status 1 and one line per violation when a rule is broken.
"""
import os
import re
import sys

# Lowest first. A folder may include the folders before it.
LAYERS = [
    "outside/core",
    "outside/codec",
    "outside/win",
    "outside/base",
    "outside/raster",
    "outside/gdiplus",
    "outside/engine",
    "outside/vips",
    "outside/scan",
    "dib",
    "fileinfo",
    "lines",
    "preview",
    "psd",
    "codecs/bmp",
    "codecs/tiff",
    "codecs/jpeg",
    "info",
    "io",
    "ops",
    "filepreview",
    "display",
    "acquire",
    "codes",
    "startup",
]
RANK = {name: i for i, name in enumerate(LAYERS)}
OUTSIDE = {name.split("/", 1)[1] for name in LAYERS if name.startswith("outside/")}
INCLUDE = re.compile(r'^\s*#\s*include\s*([<"])([^>"]+)[>"]', re.M)


def unit_of_file(path):
    """The layer a source file belongs to, or None for files outside src/."""
    parts = path.split("/")
    if parts[0] != "src" or len(parts) < 3:
        return None
    if parts[1] == "outside" and len(parts) == 3:
        return "outside/core"  # outside_api.h: the stand-ins' export macro
    if parts[1] in ("outside", "codecs") and len(parts) >= 4:
        return parts[1] + "/" + parts[2]
    return parts[1]


def unit_of_include(name, including_dir):
    """The layer an include names, or None for system and third-party headers."""
    if name.startswith("dib/outside/"):
        return "public"
    if name.startswith("dib/internal/"):
        return "dib"
    if name.startswith("dib/"):
        return "public"
    first = name.split("/", 1)[0]
    if "/" in name and first in OUTSIDE:
        return "outside/" + first
    if "/" in name and first == "codecs":
        rest = name.split("/")
        return "codecs/" + rest[1] if len(rest) > 2 else None
    if "/" in name and first in RANK:
        return first
    return None


def main(root):
    errors = []
    for top in ("src", "tools", "examples", "tests", "bench", "fuzz"):
        for dirpath, _, files in os.walk(os.path.join(root, top)):
            for f in files:
                if not f.endswith((".h", ".cpp", ".hpp", ".cc")):
                    continue
                full = os.path.join(dirpath, f)
                rel = os.path.relpath(full, root)
                text = open(full, encoding="utf-8", errors="replace").read()
                unit = unit_of_file(rel)
                for quote, name in INCLUDE.findall(text):
                    if quote == '"' and not name.startswith("../") and "/" not in name:
                        continue  # same folder
                    target = None
                    resolved = None
                    if name.startswith("../"):
                        resolved = os.path.normpath(os.path.join(os.path.dirname(rel), name))
                        target = unit_of_file(resolved)
                    else:
                        target = unit_of_include(name, dirpath)
                    if target is None:
                        continue
                    base = os.path.basename(name)
                    where = "%s: includes %s" % (rel, name)
                    if top in ("tools", "examples") and target != "public":
                        errors.append(where + " (%s use the public interface only)" % top)
                        continue
                    if base.endswith("_internal.h"):
                        owner = target
                        ok = unit == owner or (
                            top == "tests" and ("/" + owner.split("/")[-1] + "/") in ("/" + rel))
                        if not ok:
                            errors.append(where + " (internal to %s)" % owner)
                    if unit is None:
                        continue
                    if unit.startswith("outside/"):
                        if target == "public" or not target.startswith("outside/"):
                            errors.append(where + " (a stand-in includes nothing of the library)")
                            continue
                    if target == "public":
                        continue
                    if unit not in RANK:
                        errors.append("%s: folder %s is not in the layer list" % (rel, unit))
                        continue
                    if target not in RANK:
                        continue
                    if RANK[target] > RANK[unit]:
                        errors.append(where + " (%s stands above %s)" % (target, unit))
    for e in sorted(set(errors)):
        print(e)
    if errors:
        print("check-layering: %d violation(s)" % len(set(errors)), file=sys.stderr)
        return 1
    print("check-layering: ok")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")))
