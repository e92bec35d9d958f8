// The raster kernel's Photoshop reader: documents CPSDTools draws come out as it draws them,
// raw documents with extra channels come out as their colour channels alone.
#include "psd/psd_raster_reader.h"
#include "psd_test_util.h"

#include <fstream>
#include <iterator>
#include <raster/file_module.h>
#include <raster/kernel.h>
#include <support/support.h>

using namespace psdtest;

namespace {

Bytes Slurp(const std::string& name)
{
    std::ifstream in(std::string(DIB_TEST_DATA_DIR) + "/psd/" + name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Loaded {
    _BITMAPHANDLE h;
    int result = 0;
    Loaded() { RkInitBitmap(&h, BITMAPHANDLE_SIZE, 0, 0, 0); }
    ~Loaded() { RkFreeBitmap(&h); }
    COLORREF At(int x, int y) const { return RkGetPixelColor(&h, y, x); }
};

void LoadInto(const Bytes& doc, Loaded& out)
{
    out.result = dib::PsdRasterReader().load(doc.data(), doc.size(), &out.h);
}

// What CPSDTools draws for a document, through a file.
Pixels DrawnBy(const Bytes& doc, const dibtest::TempDir& dir, HBITMAP& keep)
{
    const auto path = dir.path() / "doc.psd";
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(doc.data()), std::streamsize(doc.size()));
    CPSDTools psd;
    EXPECT_EQ(psd.Load(path.wstring().c_str()), 0);
    keep = psd.Detach();
    return Read(keep);
}

void ExpectSame(const Loaded& got, const Pixels& want)
{
    ASSERT_EQ(got.result, RK_SUCCESS);
    ASSERT_EQ(got.h.Width, want.width);
    ASSERT_EQ(got.h.Height, want.height);
    EXPECT_EQ(got.h.BitsPerPixel, 24);
    EXPECT_EQ(got.h.ViewPerspective, RK_TOP_LEFT);
    for (int y = 0; y < want.height; ++y)
        for (int x = 0; x < want.width; ++x)
            ASSERT_EQ(got.At(x, y), want.At(x, y)) << x << "," << y;
}

TEST(PsdRasterReader, ProbeAndInfo)
{
    const RkExternalReader& reader = dib::PsdRasterReader();
    EXPECT_EQ(reader.format, 76);
    const Bytes doc = Slurp("im_rgb8_rle.psd");
    EXPECT_EQ(reader.probe(doc.data(), 26), 1);
    Bytes wrong = doc;
    wrong[3] = 'X';
    EXPECT_EQ(reader.probe(wrong.data(), 26), 0);
    EXPECT_EQ(reader.probe(doc.data(), 10), 0);

    _FILEINFO info{};
    info.uStructSize = FILEINFO_SIZE;
    ASSERT_EQ(reader.info(doc.data(), doc.size(), &info), RK_SUCCESS);
    EXPECT_EQ(info.Format, 76);
    EXPECT_EQ(info.BitsPerPixel, 24);
    EXPECT_GT(info.Width, 0);
    EXPECT_GT(info.Height, 0);
    EXPECT_EQ(info.SamplesPerPixel, 3);
    EXPECT_LE(reader.info(wrong.data(), wrong.size(), &info), 0);
}

TEST(PsdRasterReader, DrawsWhatCpsdToolsDraws)
{
    dibtest::TempDir dir;
    for (const char* name :
         {"im_rgb8_raw.psd", "im_rgb8_rle.psd", "im_cmyk8_raw.psd", "im_grey16_rle.psd",
          "im_indexed_rle.psd", "pt_lab8_raw.psd", "im_rgba8_rle.psd"}) {
        SCOPED_TRACE(name);
        const Bytes doc = Slurp(name);
        Loaded got;
        LoadInto(doc, got);
        HBITMAP keep = nullptr;
        const Pixels want = DrawnBy(doc, dir, keep);
        ASSERT_NE(keep, nullptr);
        ExpectSame(got, want);
        DeleteObject(keep);
    }
}

TEST(PsdRasterReader, RawDocumentsWithExtraChannelsAreDrawn)
{
    // ImageMagick's raw RGBA document: CPSDTools itself leaves it without a bitmap; the
    // reader draws what the same picture stored with PackBits draws.
    dibtest::TempDir dir;
    Loaded got;
    LoadInto(Slurp("im_rgba8_raw.psd"), got);
    HBITMAP keep = nullptr;
    const Pixels want = DrawnBy(Slurp("im_rgba8_rle.psd"), dir, keep);
    ExpectSame(got, want);
    DeleteObject(keep);

    // Raw CMYK with a spot channel and raw Lab with an alpha channel: the colour channels
    // alone, as the document without the extra plane draws.
    for (unsigned mode : {4u, 9u}) {
        SCOPED_TRACE(mode);
        const unsigned colour = mode == 4 ? 4 : 3;
        Doc d;
        d.mode = mode;
        d.width = 5;
        d.height = 3;
        Bytes planes;
        for (unsigned c = 0; c < colour; ++c)
            for (unsigned i = 0; i < 15; ++i)
                planes.push_back(std::uint8_t(40 + c * 50 + i * 7));
        d.channels = colour;
        d.data = planes;
        const Bytes plain = d.Build();
        d.channels = colour + 1;
        planes.insert(planes.end(), 15, 0x33);
        d.data = planes;
        Loaded extra;
        LoadInto(d.Build(), extra);
        HBITMAP plainBitmap = nullptr;
        const Pixels plainPixels = DrawnBy(plain, dir, plainBitmap);
        ExpectSame(extra, plainPixels);
        DeleteObject(plainBitmap);
    }
}

TEST(PsdRasterReader, RefusesWhatCannotBeDrawn)
{
    struct Case {
        const char* what;
        Doc doc;
        int result;
    };
    Doc cut;
    cut.width = 4;
    cut.height = 4;
    cut.data = Bytes(10, 0x80); // 48 bytes needed
    Doc zip = cut;
    zip.compression = 2;
    Doc deep = cut;
    deep.depth = 32;
    deep.data = Bytes(4 * 4 * 3 * 4, 1);
    Doc multichannel = cut;
    multichannel.mode = 7;
    multichannel.data = Bytes(48, 1);
    Doc none = cut;
    none.withCompression = false;
    none.data.clear();
    const Case cases[] = {
        {"raw data cut short", cut, RK_ERROR_FILE_CORRUPT},
        {"zip", zip, RK_ERROR_FORMAT_UNSUPPORTED},
        {"32 bits", deep, RK_ERROR_FORMAT_UNSUPPORTED},
        {"raw multichannel", multichannel, RK_ERROR_FORMAT_UNSUPPORTED},
        {"no image data", none, RK_ERROR_FILE_CORRUPT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded got;
        LoadInto(c.doc.Build(), got);
        EXPECT_EQ(got.result, c.result);
        EXPECT_EQ(got.h.Flags & BITMAP_FLAG_ALLOCATED, 0u);
    }
    const Bytes text = {'h', 'e', 'l', 'l', 'o'};
    Loaded got;
    LoadInto(text, got);
    EXPECT_EQ(got.result, RK_ERROR_FILE_FORMAT);
}

} // namespace
