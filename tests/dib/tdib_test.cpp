// Lifecycle, creation, import, export and queries of TDib; the status mapping and checked sizes.
#include <cstdlib>
#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <dib/internal/status_map.h>
#include <gtest/gtest.h>
#include <raster/kernel.h>
#include <set>
#include <string>
#include <vector>
#include <win/gdi.h>
#include <win/global_memory.h>

using dib::TDibAccess;

namespace {

tagRGBQUAD PaletteEntry(const TDib& d, int i)
{
    std::vector<tagRGBQUAD> pal(256);
    d.GetPaleta(pal.data(), nullptr);
    return pal[std::size_t(i)];
}

} // namespace

TEST(StatusMap, KernelResultsMapToLibraryStatuses)
{
    struct Case {
        std::int64_t kernel;
        int status;
    } cases[] = {{1, 0},      {12345, 0},  {0, -5},     {-100, -5},
                 {-7, -3007}, {-1, -3001}, {-3, -3003}, {INT64_MIN, -5}};
    for (const auto& c : cases)
        EXPECT_EQ(dib::StatusFromKernel(c.kernel), c.status) << c.kernel;
}

TEST(TDib, NewImageIsEmpty)
{
    TDib d;
    EXPECT_EQ(d.EsBuit(), 1);
    EXPECT_EQ(d.GetMidaX(), 0);
    EXPECT_EQ(d.GetBitsPerPixel(), 0);
    EXPECT_EQ(TDibAccess::CanalAlpha(d), -1);
    EXPECT_EQ(d.GetResolucioX(), 72.0);
    EXPECT_TRUE(d.GetRTTI()->IsDerivedFrom(&TItem::m_rttiTItem));
    EXPECT_EQ(d.GetRTTI()->GetParent(), &TItem::m_rttiTItem);
}

TEST(TDib, CrearAt32BitsMakesAnOpaqueAlphaChannel)
{
    TDib d;
    ASSERT_EQ(d.Crear(5, 3, 32), 0);
    EXPECT_EQ(TDibAccess::CanalAlpha(d), 3);
    unsigned char row[20];
    ASSERT_EQ(d.GetLinia(2, row, sizeof row), 0);
    for (int x = 0; x < 5; ++x)
        EXPECT_EQ(row[4 * x + 3], 255) << x;

    ASSERT_EQ(d.Crear(5, 3, 24), 0);
    EXPECT_EQ(TDibAccess::CanalAlpha(d), -1);
    EXPECT_EQ(d.EsBuit(), 0);
    EXPECT_EQ(TDibAccess::Bitmap(d).ViewPerspective, RK_TOP_LEFT);
}

TEST(TDib, CrearAt32BitsStoppedByTheStatusCallbackLeavesNoImage)
{
    const DIBSTATUSCALLBACK previous = TDib::SetStatusCallBack([](int, void*) -> int { return 0; });
    TDib d;
    EXPECT_EQ(d.Crear(5, 3, 32), -5);
    TDib::SetStatusCallBack(previous);
    EXPECT_EQ(d.EsBuit(), 1);
    EXPECT_EQ(TDibAccess::CanalAlpha(d), -1);
}

TEST(TDib, CrearDiscDefaultPalettes)
{
    TDib d;
    ASSERT_EQ(d.CrearDisc(4, 4, 8, nullptr), 0);
    EXPECT_EQ(d.GetPaleta(nullptr, nullptr), 256);
    EXPECT_EQ(PaletteEntry(d, 0).rgbRed, 1);
    EXPECT_EQ(PaletteEntry(d, 254).rgbGreen, 255);
    EXPECT_EQ(PaletteEntry(d, 255).rgbBlue, 0);

    ASSERT_EQ(d.CrearDisc(4, 4, 4, nullptr), 0);
    EXPECT_EQ(d.GetPaleta(nullptr, nullptr), 16);
    EXPECT_EQ(PaletteEntry(d, 0).rgbRed, 0x10);
    EXPECT_EQ(PaletteEntry(d, 14).rgbRed, 0xF0);
    EXPECT_EQ(PaletteEntry(d, 15).rgbRed, 0);

    ASSERT_EQ(d.CrearDisc(9, 2, 1, nullptr), 0);
    EXPECT_EQ(PaletteEntry(d, 0).rgbRed, 0);
    EXPECT_EQ(PaletteEntry(d, 1).rgbRed, 255);
    EXPECT_NE(TDibAccess::Bitmap(d).Flags & BITMAP_FLAG_DISK, 0u);
    // Disk-backed pixels behave like any other.
    const unsigned char in[2] = {0xA5, 0x80};
    unsigned char out[2] = {};
    ASSERT_EQ(d.SetLinia(1, in, 2), 0);
    ASSERT_EQ(d.GetLinia(1, out, 2), 0);
    EXPECT_EQ(std::memcmp(in, out, 2), 0);
}

TEST(TDib, DeepCopiesAreIndependent)
{
    TDib a;
    ASSERT_EQ(a.Crear(4, 2, 24), 0);
    TDibAccess::ResolucioX(a) = 300.0;
    TDibAccess::EspaiColor(a) = DIB_CS_RGB;
    const unsigned char px[3] = {1, 2, 3};
    a.SetPixel(1, 1, px);

    TDib b(&a);
    TDib c(a);
    TDib d;
    d.Crear(1, 1, 8);
    d = a;
    const unsigned char other[3] = {9, 9, 9};
    a.SetPixel(1, 1, other);
    for (TDib* copy : {&b, &c, &d}) {
        EXPECT_EQ(copy->GetPixel(1, 1), RGB(3, 2, 1));
        EXPECT_EQ(copy->GetResolucioX(), 300.0);
        EXPECT_EQ(TDibAccess::EspaiColor(*copy), DIB_CS_RGB);
        EXPECT_NE(TDibAccess::Bitmap(*copy).pStorage, TDibAccess::Bitmap(a).pStorage);
    }
    d = d; // self-assignment keeps the image
    EXPECT_EQ(d.GetPixel(1, 1), RGB(3, 2, 1));

    std::unique_ptr<TDib> dup(a.Duplicar());
    ASSERT_TRUE(dup);
    EXPECT_EQ(dup->GetPixel(1, 1), RGB(9, 9, 9));
}

TEST(TDib, CopyOfAnEmptyImageCarriesItsFields)
{
    TDib a;
    TDibAccess::ResolucioY(a) = 150.0;
    TDibAccess::EspaiColor(a) = DIB_CS_CMYK;
    std::unique_ptr<TDib> dup(a.Duplicar());
    ASSERT_TRUE(dup);
    EXPECT_EQ(dup->EsBuit(), 1);
    EXPECT_EQ(dup->GetResolucioY(), 150.0);
    EXPECT_EQ(TDibAccess::EspaiColor(*dup), DIB_CS_CMYK);
    TDib fromNull(static_cast<const TDib*>(nullptr));
    EXPECT_EQ(fromNull.EsBuit(), 1);
}

TEST(TDib, DoneReleasesAndMayRepeat)
{
    TDib d;
    d.Crear(3, 3, 32);
    TDibAccess::ResolucioX(d) = 200.0;
    TDibAccess::BufferDisplay(d) = static_cast<unsigned char*>(std::malloc(16));
    d.Done();
    d.Done();
    EXPECT_EQ(d.EsBuit(), 1);
    EXPECT_EQ(TDibAccess::CanalAlpha(d), -1);
    EXPECT_EQ(TDibAccess::BufferDisplay(d), nullptr);
    EXPECT_EQ(d.GetResolucioX(), 200.0); // resolutions stay
}

TEST(TDib, ResolutionsAndSizesInPoints)
{
    TDib d;
    d.Crear(720, 10, 8);
    TDibAccess::ResolucioX(d) = 144.0;
    EXPECT_DOUBLE_EQ(d.GetMidaRealX(), 360.0);
    TDibAccess::ResolucioX(d) = 0.00000005; // not set
    EXPECT_EQ(d.GetResolucioX(), 72.0);
    EXPECT_DOUBLE_EQ(d.GetMidaRealX(), 720.0);
}

// The kernel's storage allocations fail on purpose from here on; turned off again on exit.
class KernelOutOfMemory {
public:
    KernelOutOfMemory() { RkFailAllocationsAfter(0); }
    ~KernelOutOfMemory() { RkFailAllocationsAfter(-1); }
};

TEST(TDib, CopyFailureThrowsAndAssignmentKeepsTheTarget)
{
    TDib a;
    ASSERT_EQ(a.Crear(3, 3, 24), 0);
    TDib target;
    ASSERT_EQ(target.Crear(2, 2, 8), 0);
    TDibAccess::EspaiColor(target) = DIB_CS_GREY;
    target.SetPixel(1, 1, static_cast<unsigned long>(RGB(255, 255, 255)));
    const COLORREF before = target.GetPixel(1, 1);

    KernelOutOfMemory oom;
    EXPECT_THROW(TDib copy(&a), CMemoryException*);
    EXPECT_THROW(TDib copy(a), CMemoryException*);
    EXPECT_THROW(target = a, CMemoryException*);
    EXPECT_EQ(target.GetMidaX(), 2);
    EXPECT_EQ(target.GetPixel(1, 1), before);
    EXPECT_EQ(TDibAccess::EspaiColor(target), DIB_CS_GREY);
    EXPECT_EQ(a.Duplicar(), nullptr);
    TDib fresh;
    EXPECT_EQ(fresh.Crear(4, 4, 24), -3001);
    EXPECT_EQ(fresh.EsBuit(), 1);
}

// A creation that fails (no memory, no temporary folder) leaves the empty image, not one that
// is empty yet answers the size that was asked for.
TEST(TDib, FailedCreationLeavesNoSize)
{
    const char* oldTmp = std::getenv("TMPDIR");
    const std::string saved = oldTmp ? oldTmp : "";
    enum Cause { NoMemory, NoTmpFolder };
    struct Case {
        bool disc;
        Cause cause;
        int status;
    } cases[] = {{false, NoMemory, -3001}, {true, NoMemory, -3001}, {true, NoTmpFolder, -3006}};
    for (const Case& c : cases) {
        TDib d;
        ASSERT_EQ(d.Crear(6, 5, 8), 0); // a filled image is released first
        if (c.cause == NoMemory)
            RkFailAllocationsAfter(0);
        else
            ::setenv("TMPDIR", "/nonexistent/libdib-test", 1);
        const int r = c.disc ? d.CrearDisc(40, 30, 8) : d.Crear(40, 30, 8);
        RkFailAllocationsAfter(-1);
        if (oldTmp)
            ::setenv("TMPDIR", saved.c_str(), 1);
        else
            ::unsetenv("TMPDIR");
        EXPECT_EQ(r, c.status) << c.disc << c.cause;
        EXPECT_EQ(d.EsBuit(), 1);
        EXPECT_EQ(d.GetMidaX(), 0);
        EXPECT_EQ(d.GetMidaY(), 0);
        EXPECT_EQ(d.GetBitsPerPixel(), 0);
        EXPECT_EQ(d.GetBytesPerLinia(), 0);
    }
}

TEST(StatusText, EveryStatusOfTheTableHasItsOwnMeaning)
{
    const int table[] = {
        DIB_OK,       DIB_ERR_NO_MEMORY, DIB_ERR_UNSUPPORTED, DIB_ERR_INVALID,     DIB_ERR_FAILED,
        DIB_ERR_READ, DIB_ERR_WRITE,     DIB_ERR_BAD_MAGIC,   DIB_ERR_NO_RESOURCE, -3001};
    std::set<std::string> seen;
    for (int s : table) {
        const std::string text = DibStatusText(s);
        EXPECT_FALSE(text.empty()) << s;
        EXPECT_NE(text, "unknown status") << s;
        EXPECT_TRUE(seen.insert(text).second) << s << " repeats " << text;
    }
    EXPECT_STREQ(DibStatusText(-3010), DibStatusText(-3149));
    for (int s : {1, -4, -6, -10, -12, -2999, -3000})
        EXPECT_STREQ(DibStatusText(s), "unknown status") << s;
}
