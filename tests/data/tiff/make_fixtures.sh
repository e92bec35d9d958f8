#!/bin/sh
# Makes the TIFF reader's fixtures with tools independent of this library (tifffile and PIL
# under Debian's /usr/bin/python3, ImageMagick, libtiff-tools) and stores beside each file the
# samples tifffile decodes from it (<name>.samples: the file's samples in file order, pixel
# interleaved, little-endian; 1-bit files one byte 0/1 per pixel). Run from this folder:
#   sh make_fixtures.sh
set -eu
cd "$(dirname "$0")"
/usr/bin/python3 make_fixtures.py
# Compressed, separate-plane and tiled copies made by libtiff's own tool.
tiffcp -c lzw rgb8.tif rgb8_lzw.tif
tiffcp -c lzw:2 grey8.tif grey8_lzw_pred.tif
tiffcp -p separate rgb8.tif rgb8_planar.tif
tiffcp -p separate -c zip rgb8.tif rgb8_planar_zip.tif
tiffcp -t -w 16 -l 16 rgb8_big.tif rgb8_tiled.tif
tiffcp -c packbits -r 3 cmyk_spots.tif cmyk_spots_packbits.tif
tiffcp -p separate cmyk_spots.tif cmyk_spots_planar.tif
# Resolution in centimetres without an XResolution tag.
cp grey8.tif res_cm.tif
tiffset -s 296 3 res_cm.tif
# YCbCr without subsampling, as PIL writes it plus the subsampling tag it leaves out.
tiffset -s 530 1 1 ycbcr8.tif
# 4-bit grey, packed by ImageMagick.
convert -size 7x5 -depth 8 gray:grey4.raw -depth 4 -compress none -define tiff:photometric=min-is-black grey4.tif
rm -f grey4.raw
# A 16-colour palette at 4 bits per sample.
convert palette8.tif -colors 16 -type Palette -depth 4 -compress none palette4.tif
/usr/bin/python3 make_fixtures.py --samples
