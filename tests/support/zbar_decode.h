// zbar_decode.h - decoding generated symbols with libzbar (test executables that link zbar).
#pragma once

#include <cstdint>
#include <string>
#include <vector>
#include <zbar.h>

namespace dibtest {

using namespace zbar; // zbar.h declares its C interface in namespace zbar for C++

using SymbolType = zbar_symbol_type_t;
constexpr SymbolType kQrCode = ZBAR_QRCODE;
constexpr SymbolType kCode128 = ZBAR_CODE128;

struct Decoded {
    SymbolType type = ZBAR_NONE;
    std::string text;
};

// A one-byte-per-pixel picture (0 dark, 255 light), rows top to bottom.
struct GreyPicture {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

// Enlarges a picture by `scale` (nearest) inside a light border of `border` pixels (after
// scaling): readers need a quiet zone and several pixels per module.
inline GreyPicture ScaleWithBorder(const GreyPicture& in, int scale, int border)
{
    GreyPicture out;
    out.width = in.width * scale + 2 * border;
    out.height = in.height * scale + 2 * border;
    out.pixels.assign(std::size_t(out.width) * out.height, 255);
    for (int y = 0; y < in.height * scale; ++y)
        for (int x = 0; x < in.width * scale; ++x)
            out.pixels[std::size_t(y + border) * out.width + x + border] =
                in.pixels[std::size_t(y / scale) * in.width + x / scale];
    return out;
}

// Every symbol zbar finds, with its data as zbar gives it: UTF-8 for QR codes, whatever
// character set zbar guessed; with `raw`, the bytes the symbol holds.
inline std::vector<Decoded> Decode(const GreyPicture& picture, bool raw = false)
{
    std::vector<Decoded> found;
    zbar_image_scanner_t* scanner = zbar_image_scanner_create();
    zbar_image_scanner_set_config(scanner, ZBAR_NONE, ZBAR_CFG_ENABLE, 1);
    if (raw)
        zbar_image_scanner_set_config(scanner, ZBAR_QRCODE, ZBAR_CFG_BINARY, 1);
    zbar_image_t* image = zbar_image_create();
    zbar_image_set_format(image, zbar_fourcc('Y', '8', '0', '0'));
    zbar_image_set_size(image, unsigned(picture.width), unsigned(picture.height));
    zbar_image_set_data(image, picture.pixels.data(), picture.pixels.size(), nullptr);
    if (zbar_scan_image(scanner, image) > 0) {
        for (const zbar_symbol_t* s = zbar_image_first_symbol(image); s; s = zbar_symbol_next(s))
            found.push_back({zbar_symbol_get_type(s),
                             std::string(zbar_symbol_get_data(s), zbar_symbol_get_data_length(s))});
    }
    zbar_image_destroy(image);
    zbar_image_scanner_destroy(scanner);
    return found;
}

} // namespace dibtest
