// File previews: the fit and budget arithmetic, previews of files made by an independent tool
// against previews worked out by that tool, refusals, the reduced JPEG decode, the TIFF tools'
// forwarders and the file-open dialog's pane.
#include <algorithm>
#include <cstdlib>
#include <dib/FileInfo.h>
#include <dib/Preview.h>
#include <dib/TDib.h>
#include <dib/TiffTools.h>
#include <filepreview/file_preview_internal.h>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <memory>
#include <string>
#include <support/support.h>
#include <vector>

namespace {

using dib::filepreview::BoxedPreview;

std::string Data(const std::string& name)
{
    return std::string(DIB_TEST_DATA_DIR) + "/filepreview/" + name;
}

std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(f), {});
}

// The preview's pixels as red, green, blue bytes, rows from the top.
std::vector<unsigned char> Rgb(const TDib& d)
{
    const int w = d.GetMidaX(), h = d.GetMidaY();
    std::vector<unsigned char> out(std::size_t(w) * h * 3), row(std::size_t(w) * 3);
    for (int y = 0; y < h; ++y) {
        EXPECT_EQ(d.GetLinia(y, row.data(), row.size()), 0);
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                out[(std::size_t(y) * w + x) * 3 + c] = row[std::size_t(x) * 3 + 2 - c];
    }
    return out;
}

struct Difference {
    int max = 0;
    double mean = 0;
};

Difference Compare(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b)
{
    Difference d;
    if (a.size() != b.size() || a.empty()) {
        d.max = 256;
        return d;
    }
    double sum = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const int e = std::abs(int(a[i]) - int(b[i]));
        d.max = std::max(d.max, e);
        sum += e;
    }
    d.mean = sum / double(a.size());
    return d;
}

bool RowsAre(const std::vector<unsigned char>& rgb, int w, int fromY, int toY, int fromX, int toX,
             unsigned r, unsigned g, unsigned b)
{
    for (int y = fromY; y <= toY; ++y)
        for (int x = fromX; x <= toX; ++x) {
            const unsigned char* p = &rgb[(std::size_t(y) * w + x) * 3];
            if (p[0] != r || p[1] != g || p[2] != b)
                return false;
        }
    return true;
}

TEST(FilePreviewSteps, FitInCanvas)
{
    struct Case {
        int w, h, cw, ch, fw, fh;
        bool byHeight;
    } const cases[] = {
        {400, 100, 200, 200, 200, 50, false},    {100, 400, 200, 200, 50, 200, true},
        {1000, 1000, 202, 202, 202, 202, false}, {160, 120, 160, 120, 160, 120, false},
        {3, 2, 200, 200, 200, 133, false},       {2, 3, 200, 200, 133, 200, true},
        {100000, 1, 200, 200, 200, 1, false},    {1, 100000, 200, 200, 1, 200, true},
        {0, 10, 200, 200, 0, 0, false},
    };
    for (const auto& c : cases) {
        const auto f = dib::filepreview::FitInCanvas(c.w, c.h, c.cw, c.ch);
        EXPECT_EQ(f.width, c.fw) << c.w << "x" << c.h;
        EXPECT_EQ(f.height, c.fh) << c.w << "x" << c.h;
        EXPECT_EQ(f.byHeight, c.byHeight) << c.w << "x" << c.h;
    }
}

TEST(FilePreviewSteps, BudgetBoxAndJpegScale)
{
    struct Box {
        int kb, w, h, bw, bh;
    } const boxes[] = {{30, 1000, 1000, 101, 101},
                       {0, 1000, 1000, 0, 0},
                       {30, 0, 5, 0, 0},
                       {100, 1000, 1000, 184, 184}};
    for (const auto& c : boxes) {
        int bw = -1, bh = -1;
        dib::filepreview::BudgetBox(c.kb, c.w, c.h, bw, bh);
        EXPECT_EQ(bw, c.bw) << c.kb << " KiB " << c.w << "x" << c.h;
        EXPECT_EQ(bh, c.bh) << c.kb << " KiB " << c.w << "x" << c.h;
    }
    struct Scale {
        int w, h, tw, th, num;
    } const scales[] = {{1000, 1000, 202, 202, 2},
                        {10000, 8000, 512, 410, 1},
                        {10000, 8000, 1250, 1000, 1},
                        {10000, 8000, 1251, 1000, 2},
                        {1000, 1000, 1000, 1000, 8},
                        {1000, 1000, 2000, 2000, 8},
                        {9, 9, 2, 2, 1},
                        {9, 9, 3, 2, 2}};
    for (const auto& c : scales)
        EXPECT_EQ(dib::filepreview::JpegScaleFor(c.w, c.h, c.tw, c.th), c.num)
            << c.w << "x" << c.h << " for " << c.tw << "x" << c.th;
}

// Each fixture's boxed preview against the one worked out by the fixture tool.
TEST(BoxedPreview, MatchesIndependentReference)
{
    struct Case {
        const char* file;
        int w, h;
        unsigned long background; // COLORREF
        int maxDiff;
    } const cases[] = {
        {"wide.png", 100, 100, 0xFFFFFF, 2},    {"tall.tif", 100, 100, 0xFFFFFF, 2},
        {"photo.jpg", 101, 101, 0xFFFFFF, 16},  {"cmyk.tif", 80, 60, 0xFFFFFF, 2},
        {"rgba.png", 80, 40, 0xFFFFFF, 2},      {"grey_wide.png", 60, 60, 0x0000FF, 2},
        {"bilevel.png", 32, 32, 0xFF0000, 2},   {"bilevel_g4.tif", 32, 32, 0xFF0000, 2},
        {"bottom_up.bmp", 45, 30, 0xFFFFFF, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TDib* made = nullptr;
        const int r = TDib::GetPreview(Wide(Data(c.file)).c_str(), c.w, c.h, c.background, made);
        std::unique_ptr<TDib> preview(made);
        ASSERT_EQ(r, 0) << DibGetLastErrorText();
        ASSERT_TRUE(preview);
        EXPECT_EQ(preview->GetMidaX(), c.w);
        EXPECT_EQ(preview->GetMidaY(), c.h);
        EXPECT_EQ(preview->GetBitsPerPixel(), 24);
        const std::string ref = Data(c.file).substr(0, Data(c.file).rfind('.')) + "." +
                                std::to_string(c.w) + "x" + std::to_string(c.h) + ".rgb";
        const Difference d = Compare(Rgb(*preview), ReadBytes(ref));
        EXPECT_LE(d.max, c.maxDiff);
        EXPECT_LT(d.mean, 0.6);
    }
}

// The picture is centred in the canvas at twice the box: the bands beside it keep the
// background exactly.
TEST(BoxedPreview, BandsAroundWideAndTallPictures)
{
    struct Case {
        const char* file;
        bool bandsAboveBelow;
    } const cases[] = {{"wide.png", true}, {"tall.tif", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        TDib* made = new TDib(); // an image passed in becomes the preview
        ASSERT_EQ(TDib::GetPreview(Wide(Data(c.file)).c_str(), 100, 100, 0xFFFFFF, made), 0);
        std::unique_ptr<TDib> preview(made);
        const auto rgb = Rgb(*preview);
        // Canvas 200 x 200, picture 200 x 50 at row 75 (or 50 x 200 at column 75): after the
        // halving, lines 0 to 36 and 63 to 99 are background, 38 to 61 picture.
        if (c.bandsAboveBelow) {
            EXPECT_TRUE(RowsAre(rgb, 100, 0, 36, 0, 99, 255, 255, 255));
            EXPECT_TRUE(RowsAre(rgb, 100, 63, 99, 0, 99, 255, 255, 255));
            EXPECT_FALSE(RowsAre(rgb, 100, 38, 38, 0, 99, 255, 255, 255));
            EXPECT_FALSE(RowsAre(rgb, 100, 61, 61, 0, 99, 255, 255, 255));
        } else {
            EXPECT_TRUE(RowsAre(rgb, 100, 0, 99, 0, 36, 255, 255, 255));
            EXPECT_TRUE(RowsAre(rgb, 100, 0, 99, 63, 99, 255, 255, 255));
            EXPECT_FALSE(RowsAre(rgb, 100, 0, 99, 38, 38, 255, 255, 255));
            EXPECT_FALSE(RowsAre(rgb, 100, 0, 99, 61, 61, 255, 255, 255));
        }
    }
}

TEST(BoxedPreview, RefusalsLeaveNoImage)
{
    dibtest::TempDir dir;
    const auto photo = ReadBytes(Data("photo.jpg"));
    const std::string cut = (dir.path() / "cut.jpg").string();
    std::ofstream(cut, std::ios::binary)
        .write(reinterpret_cast<const char*>(photo.data()), std::streamsize(photo.size() / 3));
    const std::string missing = (dir.path() / "none.png").string();
    struct Case {
        std::string file;
        int w, h;
        int want; // 0: any negative status
    } const cases[] = {
        {Data("lab.tif"), 50, 50, -2},
        {Data("wide.png"), 0, 50, -3003},
        {Data("wide.png"), 50, -1, -3003},
        {Data("wide.png"), 100000, 50, -3003},
        {missing, 50, 50, 0},
        {cut, 50, 50, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " " + std::to_string(c.w) + "x" + std::to_string(c.h));
        TDib* preview = new TDib(); // deleted by the failure
        const int r = TDib::GetPreview(Wide(c.file).c_str(), c.w, c.h, 0xFFFFFF, preview);
        if (c.want)
            EXPECT_EQ(r, c.want);
        else
            EXPECT_LT(r, 0);
        EXPECT_EQ(preview, nullptr);
    }
}

TEST(BudgetedPreview, ThirtyKibibytesOfAThousandSquareFile)
{
    const std::wstring path = Wide(Data("photo.jpg"));
    TDib* made = nullptr;
    ASSERT_EQ(GetPreviewFitxerDIB(path.c_str(), 30, made, nullptr), 0);
    std::unique_ptr<TDib> preview(made);
    ASSERT_TRUE(preview);
    EXPECT_EQ(preview->GetMidaX(), 101);
    EXPECT_EQ(preview->GetMidaY(), 101);
    const auto rgb = Rgb(*preview);
    const Difference d = Compare(rgb, ReadBytes(Data("photo.101x101.rgb")));
    EXPECT_LE(d.max, 16);
    EXPECT_LT(d.mean, 0.6);

    // The TIFF tools hand both forms on unchanged.
    TDib* budgeted = nullptr;
    ASSERT_EQ(CTIFTools::GetPreview(path.c_str(), 30, budgeted, nullptr), 0);
    std::unique_ptr<TDib> viaTools(budgeted);
    EXPECT_EQ(Rgb(*viaTools), rgb);
    TDib* boxed = nullptr;
    ASSERT_EQ(CTIFTools::GetPreview(path.c_str(), 101, 101, 0xFFFFFF, boxed, nullptr), 0);
    std::unique_ptr<TDib> boxedViaTools(boxed);
    EXPECT_EQ(Rgb(*boxedViaTools), rgb);

    // No budget, or a file that cannot be described: no preview.
    TDib* none = nullptr;
    EXPECT_EQ(TDib::GetPreview(path.c_str(), 0, none), -3003);
    EXPECT_EQ(none, nullptr);
    EXPECT_LT(TDib::GetPreview(L"/nonexistent/file.png", 30, none), 0);
    EXPECT_EQ(none, nullptr);
}

// The JPEG decoded at a reduced scale (a quarter for the first box) looks like the full decode.
TEST(BudgetedPreview, ReducedJpegDecodeMatchesFullDecode)
{
    const std::wstring path = Wide(Data("photo.jpg"));
    struct Box {
        int w, h;
    } const boxes[] = {{101, 101}, {64, 40}, {30, 90}};
    for (const auto& b : boxes) {
        SCOPED_TRACE(std::to_string(b.w) + "x" + std::to_string(b.h));
        TDib *reduced = nullptr, *full = nullptr;
        ASSERT_EQ(BoxedPreview(path.c_str(), b.w, b.h, 0xFFFFFF, reduced, nullptr, nullptr, true),
                  0);
        ASSERT_EQ(BoxedPreview(path.c_str(), b.w, b.h, 0xFFFFFF, full, nullptr, nullptr, false), 0);
        std::unique_ptr<TDib> a(reduced), c(full);
        const Difference d = Compare(Rgb(*a), Rgb(*c));
        EXPECT_LE(d.max, 16);
        EXPECT_LT(d.mean, 0.5);
    }
}

class RecordingPane : public OFP_INFO {
public:
    void SetInfo(const wchar_t* text) override
    {
        ++infos;
        OFP_INFO::SetInfo(text);
    }
    void SetPreview(CBitmap* bitmap) override
    {
        ++previews;
        OFP_INFO::SetPreview(bitmap);
    }
    int infos = 0, previews = 0;
};

TEST(OpenFilePane, FlagBits)
{
    dibtest::TempDir dir;
    // A JPEG whose header is whole but whose scans are cut: only decoding finds the fault.
    const auto photo = ReadBytes(Data("photo.jpg"));
    const std::string cut = (dir.path() / "cut.jpg").string();
    std::ofstream(cut, std::ios::binary)
        .write(reinterpret_cast<const char*>(photo.data()), std::streamsize(photo.size() / 3));
    struct Case {
        std::string file;
        BYTE flags;
        int want, infos, previews;
    } const cases[] = {
        {Data("wide.png"), OFP_INFO::OFP_DESCRIPTION, 1, 1, 0},
        {Data("wide.png"), OFP_INFO::OFP_PREVIEW, 1, 0, 1},
        {Data("wide.png"), OFP_INFO::OFP_PREVIEW | OFP_INFO::OFP_DESCRIPTION, 1, 1, 1},
        {Data("wide.png"), 0, 1, 0, 0},
        {cut, OFP_INFO::OFP_DESCRIPTION, 1, 1, 0},
        {cut, OFP_INFO::OFP_PREVIEW, 0, 0, 0},
        {Data("lab.tif"), OFP_INFO::OFP_PREVIEW | OFP_INFO::OFP_DESCRIPTION, 0, 1, 0},
        {(dir.path() / "none.png").string(), OFP_INFO::OFP_DESCRIPTION, 0, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file + " flags " + std::to_string(c.flags));
        RecordingPane pane;
        pane.m_strPath = Wide(c.file).c_str();
        pane.m_flags = c.flags;
        pane.m_rcPreview = RECT{10, 20, 90, 60};
        EXPECT_EQ(_ofpGetInfoFitxerDIB(&pane), c.want);
        EXPECT_EQ(pane.infos, c.infos);
        EXPECT_EQ(pane.previews, c.previews);
        if (c.infos) {
            EXPECT_GT(pane.GetInfo().GetLength(), 0);
        }
        if (c.previews) {
            ASSERT_NE(pane.GetPreview(), nullptr);
            BITMAP bm{};
            ASSERT_GT(pane.GetPreview()->GetBitmap(&bm), 0);
            EXPECT_EQ(bm.bmWidth, 80);
            EXPECT_EQ(bm.bmHeight, 40);
        }
    }
    EXPECT_EQ(_ofpGetInfoFitxerDIB(nullptr), 0);
}

} // namespace
