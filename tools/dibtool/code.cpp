// code.cpp - `dibtool code qr|code128 TEXT OUT [--scale N]`: a QR code or Code 128 barcode of
// TEXT written to OUT as a 1-bit BMP, each pixel optionally enlarged to N x N for printing.
#include "verbs.h"

#include <cstdint>
#include <cstring>
#include <dib/StreamWriters.h>
#include <dib/TDib.h>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

std::optional<std::wstring> FromUtf8(std::string_view s)
{
    std::wstring out;
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        int extra;
        char32_t c;
        if (b < 0x80) {
            extra = 0;
            c = b;
        } else if (b >= 0xC2 && b <= 0xDF) {
            extra = 1;
            c = b & 0x1F;
        } else if (b >= 0xE0 && b <= 0xEF) {
            extra = 2;
            c = b & 0x0F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            extra = 3;
            c = b & 0x07;
        } else {
            return std::nullopt;
        }
        if (s.size() - i <= std::size_t(extra))
            return std::nullopt;
        for (int k = 1; k <= extra; ++k) {
            const auto t = static_cast<unsigned char>(s[i + k]);
            if ((t & 0xC0) != 0x80)
                return std::nullopt;
            c = (c << 6) | (t & 0x3F);
        }
        // Overlong forms, surrogates and values above U+10FFFF.
        if ((extra == 2 && c < 0x800) || (extra == 3 && c < 0x10000) || c > 0x10FFFF ||
            (c >= 0xD800 && c <= 0xDFFF))
            return std::nullopt;
        out.push_back(static_cast<wchar_t>(c));
        i += std::size_t(extra) + 1;
    }
    return out;
}

namespace {

constexpr int kMaxScale = 100;

bool EndsWithBmp(std::string_view path)
{
    if (path.size() < 4)
        return false;
    const std::string_view ext = path.substr(path.size() - 4);
    static constexpr char kBmp[] = ".bmp";
    for (int i = 0; i < 4; ++i) {
        const char c = ext[i];
        if ((c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c) != kBmp[i])
            return false;
    }
    return true;
}

int Usage()
{
    std::fprintf(stderr, "usage: dibtool code qr|code128 TEXT OUT.bmp [--scale N]\n");
    return 2;
}

// Writes image (1 bit per pixel), each pixel enlarged to scale x scale, as a top-down 1-bit BMP
// whose palette is white (0) and black (1). 0 or a library status.
int WriteBmp(TDib& image, int scale, const std::wstring& path)
{
    const int w = image.GetMidaX();
    const int h = image.GetMidaY();
    tagRGBQUAD palette[2] = {};
    if (image.GetBitsPerPixel() != 1 || image.GetPaleta(palette, nullptr) != 2)
        return DIB_ERR_UNSUPPORTED;
    // Whichever entry is the darker becomes the BMP's black.
    auto sum = [](const tagRGBQUAD& q) { return q.rgbRed + q.rgbGreen + q.rgbBlue; };
    const int dark = sum(palette[0]) <= sum(palette[1]) ? 0 : 1;

    void* bmp = L_StartDynamicSaveBMP(w * scale, h * scale, 1, 72, 72, path.c_str(), 1, 1, 0);
    if (!bmp)
        return DIB_ERR_FAILED;
    const std::size_t outBytes = (std::size_t(w) * scale + 31) / 32 * 4;
    std::vector<unsigned char> in(std::size_t(image.GetBytesPerLinia()));
    std::vector<unsigned char> out(outBytes);
    for (int y = 0; y < h; ++y) {
        int status = image.GetLinia(y, in.data(), in.size());
        std::fill(out.begin(), out.end(), 0);
        for (int x = 0; status == 0 && x < w; ++x) {
            const int index = (in[x / 8] >> (7 - x % 8)) & 1;
            if (index != dark)
                continue;
            for (int k = 0; k < scale; ++k) {
                const std::size_t bit = std::size_t(x) * scale + k;
                out[bit / 8] |= static_cast<unsigned char>(0x80 >> (bit % 8));
            }
        }
        for (int k = 0; status == 0 && k < scale; ++k)
            status = L_DynamicSaveBMProw(out.data(), bmp);
        if (status != 0) {
            L_AbortDynamicSaveBMP(bmp);
            return status;
        }
    }
    return L_EndDynamicSaveBMP(bmp);
}

} // namespace

int RunCode(int argc, char** argv)
{
    std::vector<std::string_view> positional;
    int scale = 1;
    for (int i = 0; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--scale") {
            if (i + 1 >= argc)
                return Usage();
            char* end = nullptr;
            const long n = std::strtol(argv[++i], &end, 10);
            if (*argv[i] == '\0' || *end != '\0' || n < 1 || n > kMaxScale) {
                std::fprintf(stderr, "dibtool code: --scale takes a whole number from 1 to %d\n",
                             kMaxScale);
                return 2;
            }
            scale = static_cast<int>(n);
        } else {
            positional.push_back(a);
        }
    }
    if (positional.size() != 3)
        return Usage();
    const std::string_view kind = positional[0];
    if (kind != "qr" && kind != "code128")
        return Usage();
    const std::string_view out = positional[2];
    if (!EndsWithBmp(out)) {
        std::fprintf(stderr, "dibtool code: cannot write '%.*s': only .bmp files can be written\n",
                     int(out.size()), out.data());
        return 2;
    }
    const auto text = FromUtf8(positional[1]);
    const auto path = FromUtf8(out);
    if (!text || !path) {
        std::fprintf(stderr, "dibtool code: TEXT and OUT must be UTF-8\n");
        return 2;
    }

    const bool qr = kind == "qr";
    TDib image;
    if (const int status = image.CrearCode(qr ? 0 : 1, text->c_str()); status != DIB_OK) {
        std::fprintf(stderr, "dibtool code: the text cannot be drawn as %s (status %d)\n",
                     qr ? "a QR code" : "a Code 128 barcode", status);
        return 1;
    }
    if (const int status = WriteBmp(image, scale, *path); status != DIB_OK) {
        std::fprintf(stderr, "dibtool code: cannot write '%.*s' (status %d)\n", int(out.size()),
                     out.data(), status);
        return 1;
    }
    std::printf("%.*s: %s, %d x %d pixels, 1 bit per pixel\n", int(out.size()), out.data(),
                qr ? "QR code" : "Code 128", image.GetMidaX() * scale, image.GetMidaY() * scale);
    return 0;
}
