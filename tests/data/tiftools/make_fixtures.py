"""Writes the TIFF inspection tools' fixtures with tifffile (Debian's /usr/bin/python3).

Pixel values follow one formula the tests recompute: sample c of pixel (x, y) is
(x * 37 + y * 11 + c * 53) % 256; 16-bit files store that value times 256 plus c, so the high
byte is the 8-bit value.
"""
import struct

import numpy as np
import tifffile

W, H = 13, 7  # odd sizes: unaligned lines


def ramp(channels, width=W, height=H):
    y, x, c = np.mgrid[0:height, 0:width, 0:channels]
    return ((x * 37 + y * 11 + c * 53) % 256).astype(np.uint8)


def ramp16(channels):
    y, x, c = np.mgrid[0:H, 0:W, 0:channels]
    return (((x * 37 + y * 11 + c * 53) % 256) * 256 + c).astype(np.uint16)


def ink_names(names):
    return b"".join(n.encode() + b"\0" for n in names)


def photoshop_block(alpha_names):
    """Image resources as a TIFF embeds them: one 1006 block (alpha channel names, Pascal
    strings) and one unrelated 1005-sized block so the walk crosses more than one."""
    def block(rid, data):
        out = b"8BIM" + struct.pack(">H", rid) + b"\0\0" + struct.pack(">I", len(data)) + data
        return out + (b"\0" if len(data) % 2 else b"")
    names = b"".join(bytes([len(n)]) + n.encode() for n in alpha_names)
    resolution = struct.pack(">IHHIHH", 300 << 16, 1, 1, 300 << 16, 1, 1)
    return block(1005, resolution) + block(1006, names)


def tags(*entries):
    return list(entries)


def inkset(v):
    return (332, "H", 1, v, True)


def numinks(v):
    return (334, "H", 1, v, True)


def inknames(names):
    raw = ink_names(names)
    return (333, "B", len(raw), raw, True)  # BYTE keeps the terminators as written


def main():
    # ICC profiles: the first four bytes state the size (big-endian).
    icc = struct.pack(">I", 200) + bytes(range(196))
    icc_bad = struct.pack(">I", 5000) + bytes(96)
    cmyk_names = ["Cyan", "Magenta", "Yellow", "Black"]

    tifffile.imwrite(
        "cmyk_inks.tif", ramp(4), photometric="separated", resolution=(300, 300),
        datetime="2024:05:17 10:20:30", software="fixture writer 1.0",
        extratags=tags((34675, "B", len(icc), icc, True), inkset(1), numinks(4), inknames(cmyk_names),
                       (269, "s", 0, "job-17", True), (272, "s", 0, "Scanner X", True),
                       (33432, "s", 0, "(c) nobody", True), (286, "2I", 1, (3, 2), True),
                       (287, "2I", 1, (5, 2), True)))
    tifffile.imwrite("cmyk_noinks.tif", ramp(4), photometric="separated",
                     datetime="2023:01:02 03:04:05", software="bare cmyk")
    tifffile.imwrite("cmyk_icc_bad.tif", ramp(4), photometric="separated",
                     extratags=tags((34675, "B", len(icc_bad), icc_bad, True), inkset(1), numinks(4), inknames(cmyk_names)))
    tifffile.imwrite("inks_short.tif", ramp(4), photometric="separated",
                     extratags=tags(inkset(1), numinks(6), inknames(["Cyan", "Magenta"])))
    tifffile.imwrite("rgb_noinks.tif", ramp(3), photometric="rgb", resolution=(150, 150),
                     datetime="2022:12:31 23:59:59", software="rgb writer")
    tifffile.imwrite("xres0.tif", ramp(3), photometric="rgb", resolution=(150, 150))
    tifffile.imwrite("res_cm.tif", ramp(1)[..., 0], photometric="minisblack",
                     resolution=(118.11, 118.11), resolutionunit="CENTIMETER")
    spot6 = ["Cyan", "Magenta", "Yellow", "Black", "Orange", "Green"]
    tifffile.imwrite("sep6.tif", ramp(6), photometric="separated", planarconfig="contig",
                     extratags=tags(inkset(1), numinks(6), inknames(spot6)))
    tifffile.imwrite("sep6_inkset2.tif", ramp(6), photometric="separated", planarconfig="contig",
                     extratags=tags(inkset(2), numinks(6), inknames(spot6)))
    tifffile.imwrite("sep5_psd_alpha.tif", ramp(5), photometric="separated",
                     planarconfig="contig", extrasamples=[0],
                     extratags=tags(inkset(1), (34377, "B", 0,
                                                photoshop_block(["Alpha 1"]), True)))
    tifffile.imwrite("sep6_psd_spot.tif", ramp(6), photometric="separated",
                     planarconfig="contig",
                     extratags=tags(inkset(1), (34377, "B", 0,
                                                photoshop_block(["Spot Orange"]), True)))
    tifffile.imwrite("sep16.tif", ramp16(6), photometric="separated", planarconfig="contig")
    tifffile.imwrite("sep6_deflate.tif", ramp(6), photometric="separated",
                     planarconfig="contig", compression="zlib")
    # Extra samples of each kind: unspecified, associated, unassociated.
    for kind, name in ((0, "rgbx_extra_plain.tif"), (1, "rgba_assoc.tif"), (2, "rgba_unassoc.tif")):
        tifffile.imwrite(name, ramp(4), photometric="rgb", extrasamples=[kind])
    tifffile.imwrite("ga8_w2.tif", ramp(2, width=2, height=3), photometric="minisblack",
                     planarconfig="contig", extrasamples=[2])
    tifffile.imwrite("cmyka_w1.tif", ramp(5, width=1, height=3), photometric="separated",
                     planarconfig="contig", extrasamples=[2])
    tifffile.imwrite("rgb8.tif", ramp(3), photometric="rgb")
    tifffile.imwrite("grey8.tif", ramp(1)[..., 0], photometric="minisblack")
    tifffile.imwrite("grey8_tall.tif", ramp(1, height=45)[..., 0], photometric="minisblack")
    tifffile.imwrite("rgb8_planar.tif", np.moveaxis(ramp(3), -1, 0), photometric="rgb",
                     planarconfig="separate")
    tifffile.imwrite("rgb16.tif", ramp16(3), photometric="rgb")
    tifffile.imwrite("rgb16_planar.tif", np.moveaxis(ramp16(3), -1, 0), photometric="rgb",
                     planarconfig="separate")
    tifffile.imwrite("bilevel.tif", ramp(1)[..., 0] % 3 == 0, photometric="minisblack")
    stork = bytes([0x11, 0x22, 0x33, 0x44, 1, 2, 3, 4, 5, 6, 7, 8, 0xAA, 0xBB, 0xCC, 0xDD])
    tifffile.imwrite("stork16.tif", ramp(3), photometric="rgb",
                     extratags=[(33333, "B", 16, stork, True)])
    tifffile.imwrite("stork12.tif", ramp(3), photometric="rgb",
                     extratags=[(33333, "B", 12, stork[:12], True)])
    tifffile.imwrite("stork_short.tif", ramp(3), photometric="rgb",
                     extratags=[(33333, "H", 8, list(range(8)), True)])
    tifffile.imwrite("bigtiff.tif", ramp(3), photometric="rgb", bigtiff=True,
                     resolution=(200, 200), datetime="2021:06:07 08:09:10",
                     software="big writer", extratags=[(33333, "B", 16, stork, True)])
    y, x, c = np.mgrid[0:64, 0:64, 0:3]
    tifffile.imwrite("rgb_big.tif", ((x * 37 + y * 11 + c * 53) % 256).astype(np.uint8),
                     photometric="rgb", rowsperstrip=64)


if __name__ == "__main__":
    main()
