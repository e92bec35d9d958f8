#!/usr/bin/python3
"""Writes the persistence fuzzer's seeds (fuzz/seeds/persist/) from the TIFF fixtures.

  serializer-*.bin  a serializer stream ("DIBS", version 1) with a version record and an image
                    record (kind 6) embedding a TIFF fixture under format 189 or 3, alpha flag set
                    on one of them
  stream-*.bin      a stream record: magic 33 E1 93 AD, 64-bit length, the embedded bytes
Run from the repository's root.
"""
import struct

def record(kind, payload):
    return struct.pack("<III", kind, len(payload), 0) + payload

def image_payload(width, height, bits, fmt, data):
    return struct.pack("<iiiHI", width, height, bits, fmt, len(data)) + data

tiff = open("tests/data/tiff/rgb8_lzw.tif", "rb").read()
grey16 = open("tests/data/tiff/grey16_miniswhite.tif", "rb").read()
out = "fuzz/seeds/persist/"
head = b"DIBS" + struct.pack("<HH", 1, 0)
for name, version, payload in [
        ("serializer-own-tiff.bin", 1, image_payload(7, 5, 24, 189, tiff)),
        ("serializer-alpha.bin", 4, image_payload(7, 5, 8, 189 | 0x8000, grey16)),
        ("serializer-kernel.bin", 2, image_payload(7, 5, 24, 3, tiff))]:
    with open(out + name, "wb") as f:
        f.write(head + record(0, struct.pack("<II", version, 0)) + record(6, payload))
with open(out + "stream-tiff.bin", "wb") as f:
    f.write(bytes([0x33, 0xE1, 0x93, 0xAD]) + struct.pack("<q", len(tiff)) + tiff)
