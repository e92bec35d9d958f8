// libtiff, libjpeg and libpng over a byte source: whole files decode, damaged ones fail inside
// the call with a reason, and nothing is printed.
#include <codec/jpeg_support.h>
#include <codec/png_support.h>
#include <codec/tiff_support.h>
#include <core/last_error.h>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Everything written to standard error while fn runs.
template <class Fn> std::string CaptureStderr(Fn fn)
{
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

std::vector<std::uint8_t> ReadFile(const char* path)
{
    std::vector<std::uint8_t> bytes;
    if (FILE* f = std::fopen(path, "rb")) {
        std::uint8_t buf[4096];
        for (std::size_t n; (n = std::fread(buf, 1, sizeof buf, f)) > 0;)
            bytes.insert(bytes.end(), buf, buf + n);
        std::fclose(f);
    }
    return bytes;
}

// A 7 x 5 8-bit grey TIFF whose pixel (x, y) is 10 * y + x, one row per strip.
std::vector<std::uint8_t> SmallTiff()
{
    char path[] = "/tmp/dib-codec-XXXXXX";
    close(mkstemp(path));
    TIFF* t = TIFFOpen(path, "w");
    TIFFSetField(t, TIFFTAG_IMAGEWIDTH, 7);
    TIFFSetField(t, TIFFTAG_IMAGELENGTH, 5);
    TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 1);
    TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 1);
    for (int y = 0; y < 5; ++y) {
        std::uint8_t row[7];
        for (int x = 0; x < 7; ++x)
            row[x] = std::uint8_t(10 * y + x);
        TIFFWriteScanline(t, row, std::uint32_t(y), 0);
    }
    TIFFClose(t);
    auto bytes = ReadFile(path);
    unlink(path);
    return bytes;
}

TEST(TiffSupport, ReadsFromMemoryAndRefusesDamagedDataSilently)
{
    const auto tiff = SmallTiff();
    ASSERT_GT(tiff.size(), 100u);
    auto src = core::MemorySource(tiff.data(), tiff.size());
    auto in = codec::TiffInput::Open(*src);
    ASSERT_NE(in, nullptr);
    std::uint32_t width = 0;
    TIFFGetField(*in, TIFFTAG_IMAGEWIDTH, &width);
    EXPECT_EQ(width, 7u);
    std::uint8_t row[7];
    ASSERT_EQ(TIFFReadScanline(*in, row, 3, 0), 1);
    EXPECT_EQ(row[6], 36);

    const std::string printed = CaptureStderr([&] {
        const std::uint8_t garbage[] = {'I', 'I', 42, 0, 0xFF, 0xFF, 0xFF, 0x7F, 1, 2, 3};
        auto bad = core::MemorySource(garbage, sizeof garbage);
        core::ClearLastErrorText();
        EXPECT_EQ(codec::TiffInput::Open(*bad), nullptr);
        EXPECT_STRNE(core::GetLastErrorText(), "");
        // Cut in the middle of the pixel data: the header opens, a missing strip fails.
        auto half = core::MemorySource(tiff.data(), 8 + 20);
        if (auto cut = codec::TiffInput::Open(*half)) {
            std::uint8_t r[7];
            EXPECT_EQ(TIFFReadScanline(*cut, r, 4, 0), -1);
        }
    });
    EXPECT_EQ(printed, "");
}

std::vector<std::uint8_t> SmallJpeg(int width, int height)
{
    jpeg_compress_struct c{};
    jpeg_error_mgr err{};
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* out = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&c, &out, &size);
    c.image_width = JDIMENSION(width);
    c.image_height = JDIMENSION(height);
    c.input_components = 1;
    c.in_color_space = JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_start_compress(&c, TRUE);
    std::vector<JSAMPLE> row(static_cast<std::size_t>(width));
    while (c.next_scanline < c.image_height) {
        // Busy content, so that the scan, not the tables, fills most of the file.
        for (int x = 0; x < width; ++x)
            row[std::size_t(x)] = JSAMPLE((x * 37 + int(c.next_scanline) * 91) ^ (x * x));
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<std::uint8_t> bytes(out, out + size);
    jpeg_destroy_compress(&c);
    std::free(out);
    return bytes;
}

// Decodes src; 1 when every line came out, 0 after a fatal error. *truncated tells whether the
// data ended early. No C++ object with a destructor lives in this frame.
int Decode(core::ByteSource& src, bool* truncated, codec::JpegSource* state)
{
    codec::JpegErrors errors;
    jpeg_decompress_struct d;
    d.err = codec::InitJpegErrors(errors);
    if (setjmp(errors.jump)) {
        jpeg_destroy_decompress(&d);
        return 0;
    }
    jpeg_create_decompress(&d);
    codec::SetJpegSource(&d, *state, src);
    jpeg_read_header(&d, TRUE);
    jpeg_start_decompress(&d);
    JSAMPLE line[256];
    while (d.output_scanline < d.output_height) {
        JSAMPROW r = line;
        jpeg_read_scanlines(&d, &r, 1);
    }
    jpeg_finish_decompress(&d);
    jpeg_destroy_decompress(&d);
    *truncated = state->truncated;
    return 1;
}

TEST(JpegSupport, FatalErrorsReturnToTheCallerAndTruncationIsReported)
{
    const auto jpeg = SmallJpeg(256, 128);
    auto state = std::make_unique<codec::JpegSource>();
    const std::string printed = CaptureStderr([&] {
        bool truncated = true;
        auto whole = core::MemorySource(jpeg.data(), jpeg.size());
        EXPECT_EQ(Decode(*whole, &truncated, state.get()), 1);
        EXPECT_FALSE(truncated);

        auto cut = core::MemorySource(jpeg.data(), jpeg.size() / 2);
        EXPECT_EQ(Decode(*cut, &truncated, state.get()), 1);
        EXPECT_TRUE(truncated);

        const std::uint8_t garbage[] = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x02, 0x12, 0x34};
        auto bad = core::MemorySource(garbage, sizeof garbage);
        core::ClearLastErrorText();
        EXPECT_EQ(Decode(*bad, &truncated, state.get()), 0);
        EXPECT_STRNE(core::GetLastErrorText(), "");
    });
    EXPECT_EQ(printed, "");
}

std::vector<std::uint8_t> SmallPng()
{
    std::vector<std::uint8_t> out;
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    png_set_write_fn(
        png, &out,
        [](png_structp p, png_bytep data, png_size_t n) {
            auto* v = static_cast<std::vector<std::uint8_t>*>(png_get_io_ptr(p));
            v->insert(v->end(), data, data + n);
        },
        nullptr);
    png_set_IHDR(png, info, 4, 3, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    for (int y = 0; y < 3; ++y) {
        png_byte row[4] = {png_byte(y), 1, 2, 3};
        png_write_row(png, row);
    }
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return out;
}

// 1 with the last row's first sample in *first; 0 after a libpng error.
int ReadPng(codec::PngInput& in, int* first)
{
    if (!in.valid())
        return 0;
    if (setjmp(png_jmpbuf(in.png())))
        return 0;
    png_read_info(in.png(), in.info());
    png_byte row[4];
    for (int y = 0; y < 3; ++y)
        png_read_row(in.png(), row, nullptr);
    *first = row[0];
    return 1;
}

TEST(PngSupport, ReadsFromASourceAndFailsInsideTheCallOnTruncation)
{
    const auto png = SmallPng();
    auto whole = core::MemorySource(png.data(), png.size());
    codec::PngInput in(*whole);
    int first = -1;
    EXPECT_EQ(ReadPng(in, &first), 1);
    EXPECT_EQ(first, 2);

    const std::string printed = CaptureStderr([&] {
        auto cut = core::MemorySource(png.data(), png.size() - 20);
        codec::PngInput damaged(*cut);
        core::ClearLastErrorText();
        EXPECT_EQ(ReadPng(damaged, &first), 0);
        EXPECT_STRNE(core::GetLastErrorText(), "");
    });
    EXPECT_EQ(printed, "");
}

} // namespace
