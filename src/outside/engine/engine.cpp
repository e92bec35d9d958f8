// engine.cpp - the engine's PNG description and iCCP resource.
//
// Contents
//   ReadHeaders                 the facts of the chunks before the image data (libpng)
//   DescribePng                 the "ImageInfo" XML text
//   talRE_*                     the engine's calls
#include "engine.h"

#include "../codec/png_support.h"
#include "../core/byte_source.h"

#include <csetjmp>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// The largest profile the engine decompresses from an iCCP chunk.
constexpr png_alloc_size_t kMaxChunkBytes = png_alloc_size_t(32) << 20;

struct PngFacts {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int bitDepth = 0;
    int colourType = 0;
    bool transparency = false;
    bool resolution = false; // pixels per metre known
    png_uint_32 xPerMetre = 0;
    png_uint_32 yPerMetre = 0;
    png_bytep icc = nullptr; // owned by the info structure
    png_uint_32 iccBytes = 0;
};

// Runs libpng up to the image data. The frame that calls setjmp holds nothing with a
// destructor: libpng's errors land here and leave no C++ object half done.
bool ReadInfo(png_structp png, png_infop info, PngFacts* f)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_chunk_malloc_max(png, kMaxChunkBytes);
    png_read_info(png, info);
    int interlace = 0, compression = 0, filter = 0;
    if (!png_get_IHDR(png, info, &f->width, &f->height, &f->bitDepth, &f->colourType, &interlace,
                      &compression, &filter))
        return false;
    f->transparency = png_get_valid(png, info, PNG_INFO_tRNS) != 0;
    png_uint_32 x = 0, y = 0;
    int unit = 0;
    if (png_get_pHYs(png, info, &x, &y, &unit) && unit == PNG_RESOLUTION_METER && x > 0 && y > 0) {
        f->resolution = true;
        f->xPerMetre = x;
        f->yPerMetre = y;
    }
    png_charp name = nullptr;
    int method = 0;
    png_bytep profile = nullptr;
    png_uint_32 bytes = 0;
    if (png_get_iCCP(png, info, &name, &method, &profile, &bytes) && profile && bytes > 0) {
        f->icc = profile;
        f->iccBytes = bytes;
    }
    return true;
}

// An open PNG read up to its image data; valid() false when the file is no readable PNG.
class PngHeaders {
public:
    explicit PngHeaders(const char* path)
    {
        if (!path)
            return;
        source_ = core::FileSource(path);
        if (!source_)
            return;
        std::uint8_t signature[8];
        if (!source_->readExact(0, signature, sizeof signature) ||
            png_sig_cmp(signature, 0, sizeof signature) != 0)
            return;
        input_ = std::make_unique<codec::PngInput>(*source_);
        if (!input_->valid())
            return;
        ok_ = ReadInfo(input_->png(), input_->info(), &facts_);
    }
    bool valid() const { return ok_; }
    const PngFacts& facts() const { return facts_; }

private:
    std::unique_ptr<core::ByteSource> source_;
    std::unique_ptr<codec::PngInput> input_;
    PngFacts facts_;
    bool ok_ = false;
};

void AppendElement(std::string& xml, const char* name, const std::string& value)
{
    xml += '<';
    xml += name;
    xml += '>';
    xml += value;
    xml += "</";
    xml += name;
    xml += '>';
}

// Pixels per centimetre of a pixels-per-metre value, exactly: two decimals.
std::string PerCentimetre(png_uint_32 perMetre)
{
    std::string s = std::to_string(perMetre / 100) + '.';
    const unsigned cents = perMetre % 100;
    s += char('0' + cents / 10);
    s += char('0' + cents % 10);
    return s;
}

std::string DescribePng(const PngFacts& f)
{
    const bool grey = (f.colourType & PNG_COLOR_MASK_COLOR) == 0;
    const bool alpha = (f.colourType & PNG_COLOR_MASK_ALPHA) != 0 ||
                       (f.colourType == PNG_COLOR_TYPE_PALETTE && f.transparency);
    const int channels = (grey ? 1 : 3) + (alpha ? 1 : 0);
    const int bits = f.bitDepth == 16 ? 16 : 8;

    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<ImageInfo>";
    AppendElement(xml, "width", std::to_string(f.width));
    AppendElement(xml, "height", std::to_string(f.height));
    if (f.resolution) {
        AppendElement(xml, "ResolutionX", PerCentimetre(f.xPerMetre));
        AppendElement(xml, "ResolutionY", PerCentimetre(f.yPerMetre));
        AppendElement(xml, "ResolutionUnits", "pixel/cm");
    }
    xml += "<Inkset NumChannels=\"" + std::to_string(channels) + "\"/>";
    AppendElement(xml, "BitsPerComponent", std::to_string(bits));
    AppendElement(xml, "Space", grey ? "GRAYSCALE" : "RGB");
    if (alpha)
        AppendElement(xml, "AlphaChannel", std::to_string(channels - 1));
    xml += "</ImageInfo>\n";
    return xml;
}

} // namespace

extern "C" {

char* talRE_BuildImageInformation(const char* path, int flags, int* page, int* length)
{
    if (length)
        *length = 0;
    if (!path || flags != 0 || (page && *page != 0))
        return nullptr;
    const PngHeaders png(path);
    if (!png.valid())
        return nullptr;
    const std::string xml = DescribePng(png.facts());
    char* text = static_cast<char*>(std::malloc(xml.size() + 1));
    if (!text)
        return nullptr;
    std::memcpy(text, xml.c_str(), xml.size() + 1);
    if (length)
        *length = static_cast<int>(xml.size());
    return text;
}

void talRE_FreeString(char* text)
{
    std::free(text);
}

int talRE_GetImageResourcePtr(const char* path, const char* resource, int index, void** data,
                              int maxBytes)
{
    if (!path || !resource || !data || index != 0 || maxBytes <= 0 ||
        std::strcmp(resource, "iccProfile") != 0)
        return 0;
    const PngHeaders png(path);
    if (!png.valid() || !png.facts().icc)
        return 0;
    const png_uint_32 bytes = png.facts().iccBytes;
    if (bytes > static_cast<png_uint_32>(maxBytes))
        return 0;
    if (*data)
        std::memcpy(*data, png.facts().icc, bytes);
    return static_cast<int>(bytes);
}
}
