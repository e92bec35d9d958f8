#!/usr/bin/env bash
# Makes the bundled samples of `make demo` with independent tools (ImageMagick, libtiff-tools,
# Python's PIL and tifffile). The results are committed; run this only to remake them:
#   DIB_FIXTURE_TOOLS=1 bash scripts/setup-deps.sh && bash samples/make-samples.sh
#
#   photo.jpg       RGB JPEG, 4:2:0, 300 dpi                     ImageMagick
#   cmyk-lzw.tif    CMYK TIFF, 8 bits per ink, LZW, 300 dpi       ImageMagick
#   deep16.tif      RGB TIFF, 16 bits per sample, Deflate         tifffile, then tiffcp
#   rgba.png        RGBA PNG with a soft transparent edge         PIL
#   palette.gif     GIF, 64-colour palette                        ImageMagick
#   layers.psd      Photoshop document, two layers and composite  ImageMagick
#   icc.tif         RGB TIFF, LZW, with an sRGB ICC profile        PIL (lcms profile)
#   picture.bmp     24-bit Windows BMP                            ImageMagick
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
py=/usr/bin/python3 # Debian's interpreter sees Debian's PIL and tifffile
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The scene every sample starts from: a sky, a sun, hills and three colour patches, drawn by PIL
# (deterministic: no randomness, no fonts), at two sizes.
"$py" - "$work" <<'EOF'
import sys
from PIL import Image, ImageDraw

def scene(w, h):
    im = Image.new("RGB", (w, h))
    d = ImageDraw.Draw(im)
    for y in range(h):
        t = y / (h - 1)
        d.line([(0, y), (w, y)], fill=(int(70 + 120 * t), int(130 + 90 * t), int(230 - 40 * t)))
    d.ellipse([w * 0.68, h * 0.10, w * 0.88, h * 0.10 + w * 0.20], fill=(255, 214, 64))
    d.polygon([(0, h * 0.70), (w * 0.30, h * 0.45), (w * 0.62, h * 0.72), (w, h * 0.55),
               (w, h), (0, h)], fill=(58, 128, 60))
    d.polygon([(0, h * 0.85), (w * 0.45, h * 0.66), (w, h * 0.88), (w, h), (0, h)],
              fill=(36, 92, 40))
    for i, c in enumerate([(220, 30, 40), (0, 160, 220), (240, 200, 0)]):
        x = int(w * (0.06 + 0.10 * i))
        d.rectangle([x, int(h * 0.08), x + w // 12, int(h * 0.08) + w // 12], fill=c)
    return im

scene(256, 192).save(sys.argv[1] + "/scene.ppm")
scene(128, 96).save(sys.argv[1] + "/small.ppm")
EOF

cd "$work"

convert scene.ppm -quality 85 -sampling-factor 2x2 -density 300 -units PixelsPerInch photo.jpg

convert scene.ppm -colorspace CMYK -depth 8 -compress LZW -density 300 -units PixelsPerInch \
    cmyk-lzw.tif

# 16 bits per sample: the 8-bit scene spread over 0..65535 with a fine ramp added, so the low
# byte carries real information; written uncompressed by tifffile, then Deflate by tiffcp.
"$py" - <<'EOF'
import numpy as np
import tifffile
from PIL import Image
rgb = np.asarray(Image.open("small.ppm"), dtype=np.uint16) * 257
ramp = (np.arange(rgb.shape[1], dtype=np.uint16) * 3)[None, :, None]
tifffile.imwrite("deep16-raw.tif", rgb - np.minimum(rgb, ramp), photometric="rgb",
                 resolution=(150, 150), resolutionunit="INCH")
EOF
tiffcp -c zip:2 deep16-raw.tif deep16.tif

"$py" - <<'EOF'
from PIL import Image
im = Image.open("small.ppm").convert("RGBA")
w, h = im.size
alpha = Image.new("L", (w, h))
for y in range(h):
    for x in range(w):
        # Opaque in the middle, fading to clear over the outer quarter.
        e = min(x, y, w - 1 - x, h - 1 - y) / (min(w, h) / 4)
        alpha.putpixel((x, y), int(255 * min(1.0, e)))
im.putalpha(alpha)
im.save("rgba.png")
EOF

convert scene.ppm -dither None -colors 64 palette.gif

# The first image is the flattened composite (the document's image data), the others its
# layers: the scene and a half-transparent red band over it.
convert \( scene.ppm \( -size 256x48 xc:'rgba(200,0,0,0.5)' -geometry +0+72 \) -composite \) \
    scene.ppm \( -size 256x48 xc:'rgba(200,0,0,0.5)' -repage +0+72 \) -type TrueColor -density 72 -compress RLE layers.psd

"$py" - <<'EOF'
from PIL import Image, ImageCms
icc = ImageCms.ImageCmsProfile(ImageCms.createProfile("sRGB")).tobytes()
Image.open("scene.ppm").save("icc.tif", compression="tiff_lzw", icc_profile=icc, dpi=(240, 240))
EOF

convert small.ppm -density 96 -units PixelsPerInch BMP3:picture.bmp

for f in photo.jpg cmyk-lzw.tif deep16.tif rgba.png palette.gif layers.psd icc.tif picture.bmp; do
    cp "$f" "$here/$f"
done
(cd "$here" && ls -l photo.jpg cmyk-lzw.tif deep16.tif rgba.png palette.gif layers.psd icc.tif \
    picture.bmp && du -ch --apparent-size ./*.* | tail -1)
