// jpeg_reader.cpp - TDib::_infoJPEG and TDib::_loadJPEG.
//
// Contents
//   header         Describe, Info
//   output plan    PlanOutput: requested depth -> libjpeg's output colour space
//   decoding       Load
//   entry points   TDib::_infoJPEG, TDib::_loadJPEG, EmbeddedIcc
//
// libjpeg pads a scan whose data ends early with grey blocks and carries on past a corrupt
// code with a warning; both would come out as a success over wrong pixels. The decoder counts
// those warnings (and the early end), a line read after one is never delivered, and the load
// fails with -149.
#include "jpeg_reader.h"

#include "jpeg_decoder_internal.h"
#include "jpeg_icc.h"

#include <algorithm>
#include <array>
#include <base/progress.h>
#include <core/checked_size.h>
#include <core/last_error.h>
#include <cstdlib>
#include <cstring>
#include <dib/FileInfo.h>
#include <dib/LineConsumer.h>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <memory>
#include <optional>
#include <raster/kernel.h>
#include <string>
#include <win/files.h>

namespace jpeg {
namespace {

constexpr int kLineNotDecoded = -149;
constexpr int kHeaderFailed = -5;
constexpr int kDepthRefused = RK_ERROR_BITSPERPIXEL; // -5 as well: the kernel's depth refusal
constexpr int kCancelled = dib::kKernelCancelled;
constexpr int kOpenFailed = -14;

void Describe(const jpeg_decompress_struct& c, CFILEINFO& info)
{
    if (c.density_unit == 1) {
        info.XResolution = c.X_density;
        info.YResolution = c.Y_density;
    } else if (c.density_unit == 2) {
        info.XResolution = c.X_density * 25.4 / 10.0;
        info.YResolution = c.Y_density * 25.4 / 10.0;
    }
    info.BitsPerPixel = c.num_components * 8;
    info.Width = std::int32_t(c.image_width);
    info.Height = std::int32_t(c.image_height);
    info.ViewPerspective = RK_TOP_LEFT;
    info.Channels = std::uint32_t(c.num_components);
    if (c.num_components == 4)
        info.ColorSpace = DIB_CS_CMYK;
    info.AlphaChannel = -1;
}

// How the decoder's lines become the delivered ones.
struct OutputPlan {
    J_COLOR_SPACE space; // libjpeg's output colour space
    int depth;           // bits per delivered pixel
    bool swap;           // red, green, blue -> blue, green, red
    bool complement;     // inverted CMYK -> plain
};

// The file's depth is delivered as it is (colour in blue, green, red order, CMYK complemented).
// Grey to 24 bits and colour to 8 bits are libjpeg's own conversions. Anything else (CMYK to
// fewer channels, colour to 32 bits, packed depths) has no conversion worth guessing at.
std::optional<OutputPlan> PlanOutput(const jpeg_decompress_struct& c, int requested)
{
    const int own = c.num_components * 8;
    const int depth = requested == 0 ? own : requested;
    const bool grey = c.jpeg_color_space == JCS_GRAYSCALE && c.num_components == 1;
    const bool colour =
        (c.jpeg_color_space == JCS_YCbCr || c.jpeg_color_space == JCS_RGB) && c.num_components == 3;
    const bool cmyk =
        (c.jpeg_color_space == JCS_CMYK || c.jpeg_color_space == JCS_YCCK) && c.num_components == 4;
#ifdef JCS_EXTENSIONS
    // libjpeg-turbo writes blue, green, red itself: no pass over the line.
    const OutputPlan bgr{JCS_EXT_BGR, 24, false, false};
#else
    const OutputPlan bgr{JCS_RGB, 24, true, false};
#endif
    if (depth == 24 && (colour || grey))
        return bgr;
    if (depth == 8 && (grey || colour))
        return OutputPlan{JCS_GRAYSCALE, 8, false, false};
    if (depth == 32 && cmyk)
        return OutputPlan{JCS_CMYK, 32, false, true};
    return std::nullopt;
}

// A kernel code for a library status of TDib (the reverse of dib::StatusFromKernel).
int KernelCode(int status)
{
    return status <= DIB_STATUS_KERNEL_BASE ? status - DIB_STATUS_KERNEL_BASE : RK_FAILURE;
}

struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};
using Buffer = std::unique_ptr<unsigned char, FreeDeleter>;

} // namespace

int Info(core::ByteSource& source, CFILEINFO& info)
{
    Decoder decoder;
    if (!decoder.Create(source))
        return 0;
    const int r = decoder.ReadHeader(false);
    if (decoder.Truncated()) {
        core::SetLastErrorText("the JPEG data ends inside its header");
        return 0;
    }
    if (r != JPEG_HEADER_OK) {
        if (r != -1)
            core::SetLastErrorText("no JPEG image header");
        return 0;
    }
    Describe(decoder.cinfo(), info);
    return 1;
}

int Load(TDib& image, core::ByteSource& source, int bitsPerPixel, TProcesLiniaDIB* processor,
         TIndicadorEstat* progress, int intoImage, int adaptCMYK, int scaleNum)
{
    double low = 0.0, high = 1.0;
    if (progress)
        progress->GetRang(low, high);
    {
        CFILEINFO header;
        const int r = Info(source, header);
        if (r <= 0)
            return (r == 0 || r == kCancelled) ? kHeaderFailed : r - 3000;
    }

    Decoder decoder;
    if (!decoder.Create(source))
        return RK_ERROR_NO_MEMORY;
    jpeg_decompress_struct& c = decoder.cinfo();
    if (decoder.ReadHeader(true) != JPEG_HEADER_OK || decoder.Truncated())
        return kHeaderFailed;
    const std::optional<OutputPlan> plan = PlanOutput(c, bitsPerPixel);
    if (!plan) {
        core::SetLastErrorTextF("a JPEG of %d components cannot be read at %d bits per pixel",
                                c.num_components, bitsPerPixel);
        return kDepthRefused;
    }
    c.out_color_space = plan->space;
    if (scaleNum >= 1 && scaleNum < 8) {
        c.scale_num = unsigned(scaleNum);
        c.scale_denom = 8;
    }
    if (!decoder.Start())
        return kLineNotDecoded;
    // Progressive and multi-scan files are read whole by the start.
    if (decoder.Damaged())
        return kLineNotDecoded;
    const int width = int(c.output_width);
    const int height = int(c.output_height);
    const int components = c.output_components;
    if (components * 8 != plan->depth || width < 1 || height < 1) {
        core::SetLastErrorText("unexpected JPEG decoder output");
        decoder.Abort();
        return kLineNotDecoded;
    }
    // Below 65536 x 32 bits: the line fits an int with room to spare.
    const std::uint64_t lineBytes = *core::CheckedLineSize(width, plan->depth, 4);
    Buffer decoded(static_cast<unsigned char*>(std::calloc(lineBytes + 8, 1)));
    Buffer converted;
    const bool transform = plan->swap || plan->complement;
    if (transform)
        converted.reset(static_cast<unsigned char*>(std::calloc(lineBytes + 8, 1)));
    if (!decoded || (transform && !converted)) {
        core::SetLastErrorText("out of memory");
        decoder.Abort();
        return RK_ERROR_NO_MEMORY;
    }
    unsigned char* line = transform ? converted.get() : decoded.get();

    int first = 0;
    int left = 0;
    if (processor) {
        CRect region(0, 0, width - 1, height - 1);
        first = processor->Init(width, height, region);
        left = std::clamp(int(region.left), 0, width - 1);
    }
    if (first < 0) {
        // The consumer refused: no line, no Done, and no image that claims this file.
        decoder.Abort();
        if (intoImage)
            image.Done();
        return 1;
    }

    _BITMAPHANDLE& bitmap = dib::TDibAccess::Bitmap(image);
    if (intoImage) {
        std::array<tagRGBQUAD, 256> grey{};
        for (int i = 0; i < 256; ++i)
            grey[std::size_t(i)] = tagRGBQUAD{BYTE(i), BYTE(i), BYTE(i), 0};
        const int made =
            image.Crear(width, height, plan->depth, plan->depth == 8 ? grey.data() : nullptr);
        if (made != DIB_OK) {
            decoder.Abort();
            return KernelCode(made);
        }
        RkAccessBitmap(&bitmap);
    }

    int status = 1;
    int read = 0;
    int delivered = 0;
    bool stopped = false;
    while (status == 1 && read < height) {
        const int got = decoder.ReadLine(decoded.get());
        if (got != 1 || decoder.Damaged()) {
            if (got == 0)
                core::SetLastErrorText("the JPEG decoder returned no line");
            status = kLineNotDecoded;
            break;
        }
        if (read++ < first)
            continue;
        if (plan->swap) {
            const unsigned char* in = decoded.get();
            for (int x = 0; x < width; ++x, in += 3) {
                line[3 * x] = in[2];
                line[3 * x + 1] = in[1];
                line[3 * x + 2] = in[0];
            }
        } else if (plan->complement) {
            const unsigned char* in = decoded.get();
            for (std::uint64_t i = 0; i < lineBytes; ++i)
                line[i] = static_cast<unsigned char>(~in[i]);
        }
        if (processor && processor->Processar(line + std::size_t(left) * components, nullptr) == 0)
            stopped = true;
        if (intoImage) {
            if (plan->depth == 32 && adaptCMYK)
                TDib::AdaptarPerCarregarCMYK(line, width);
            const int row =
                bitmap.ViewPerspective == RK_TOP_LEFT ? delivered : bitmap.Height - 1 - delivered;
            const std::int64_t put = RkPutBitmapRow(&bitmap, line, row, lineBytes);
            if (put <= 0) {
                status = put == 0 ? RK_FAILURE : int(put);
                break;
            }
        }
        ++delivered;
        if (progress) {
            if (progress->Cancelat())
                status = kCancelled;
            else if (delivered % 10 == 0 &&
                     progress->SetPosicio(low + double(delivered) / height * (high - low)) == 0)
                status = kCancelled;
        }
        if (stopped)
            break;
    }
    if (intoImage)
        RkReleaseBitmap(&bitmap);

    if (status == 1) {
        if (processor)
            processor->Done();
        // Pixels are all in: what finishing may still find (a missing end marker) changes
        // nothing delivered.
        if (!stopped && read == height)
            decoder.Finish();
        else
            decoder.Abort();
    } else {
        decoder.Abort();
        if (intoImage)
            image.Done();
    }
    return status;
}

bool EmbeddedIcc(core::ByteSource& source, unsigned char** profile, unsigned int* length)
{
    if (profile)
        *profile = nullptr;
    if (length)
        *length = 0;
    if (!profile || !length)
        return false;
    Decoder decoder;
    if (!decoder.Create(source) || !decoder.SaveIccMarkers())
        return false;
    // A marker cut short by the end of the data would be kept padded: no profile from it.
    if (decoder.ReadHeader(false) != JPEG_HEADER_OK || decoder.Truncated())
        return false;
    return _readICCJPEG(&decoder.cinfo(), profile, length);
}

int ScaledSide(int side, int scaleNum)
{
    if (scaleNum < 1 || scaleNum > 8)
        scaleNum = 8;
    const std::int64_t scaled = (std::int64_t(side) * scaleNum + 7) / 8;
    return int(std::max<std::int64_t>(scaled, 1));
}

int LoadFileScaled(const wchar_t* path, int bitsPerPixel, int scaleNum, TProcesLiniaDIB* processor,
                   TIndicadorEstat* progress)
{
    std::string name;
    if (!PathToUtf8(path, name))
        return kOpenFailed - 3000;
    const std::unique_ptr<core::ByteSource> source = core::FileSource(name.c_str());
    if (!source)
        return kOpenFailed - 3000;
    TDib unused;
    return Load(unused, *source, bitsPerPixel, processor, progress, 0, 0, scaleNum);
}

} // namespace jpeg

int TDib::_infoJPEG(const wchar_t* path, CFILEINFO& info)
{
    std::string name;
    if (!PathToUtf8(path, name))
        return jpeg::kOpenFailed;
    const std::unique_ptr<core::ByteSource> source = core::FileSource(name.c_str());
    if (!source)
        return jpeg::kOpenFailed;
    return jpeg::Info(*source, info);
}

int TDib::_loadJPEG(const wchar_t* path, int bitsPerPixel, int /*unused*/,
                    TProcesLiniaDIB* processor, TIndicadorEstat* progress, int intoImage,
                    int adaptCMYK)
{
    // The header check and the decoding read one open source: a file that does not open is
    // the header check's failure.
    std::string name;
    if (!PathToUtf8(path, name))
        return jpeg::kOpenFailed - 3000;
    const std::unique_ptr<core::ByteSource> source = core::FileSource(name.c_str());
    if (!source)
        return jpeg::kOpenFailed - 3000;
    return jpeg::Load(*this, *source, bitsPerPixel, processor, progress, intoImage, adaptCMYK);
}
