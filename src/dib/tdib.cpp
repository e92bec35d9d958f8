// tdib.cpp - TDib: lifecycle, creation, import and export, device contexts, queries.
//
// Contents
//   construction    TDib(), TDib(const TDib*), copy, assignment, destructor, Duplicar
//   release         Done, EsBuit, GetRTTI
//   creation        Crear, CrearDisc (default grey palettes)
//   memory access   Lock, Unlock
//   queries         sizes, resolutions, sizes in points, SetStatusCallBack
#include <array>
#include <cmath>
#include <core/checked_size.h>
#include <cstdlib>
#include <dib/TDib.h>
#include <dib/internal/status_map.h>
#include <raster/kernel.h>

CMosaRTTI TDib::m_rttiTDib("TDib", &TItem::m_rttiTItem);

namespace {

constexpr std::uint32_t kMemoryConventional = RK_MEMORY_CONVENTIONAL | RK_MEMORY_DEFAULT; // 513

// Resolution used in place of one that is not set: the stored double when it is meaningfully
// non-zero, else the record's whole value, else 72 dpi.
double EffectiveResolution(double stored, std::int32_t whole)
{
    if (std::fabs(stored) > 1e-7)
        return stored;
    if (whole != 0)
        return static_cast<double>(whole);
    return 72.0;
}

} // namespace

// ---- construction ---------------------------------------------------------------------------

TDib::TDib()
{
    RkInitBitmap(&m_bitmap, BITMAPHANDLE_SIZE, 0, 0, 0);
}

TDib::TDib(const TDib* source) : TDib()
{
    if (!source)
        return;
    if (source->m_bitmap.Flags & BITMAP_FLAG_ALLOCATED) {
        if (RkCopyBitmap(&m_bitmap, BITMAPHANDLE_SIZE, &source->m_bitmap, BITMAPHANDLE_SIZE) < 1) {
            // The delegated-to TDib() has completed, so ~TDib runs on the way out; freeing here
            // keeps the record clear whatever the kernel left in it.
            RkFreeBitmap(&m_bitmap);
            AfxThrowMemoryException();
        }
    }
    CopiarMembres(*source);
}

TDib::TDib(const TDib& other) : TDib(&other) {}

TDib& TDib::operator=(const TDib& other)
{
    if (this == &other)
        return *this;
    // Copy into a separate record first so that a failure leaves this image untouched.
    _BITMAPHANDLE copy;
    RkInitBitmap(&copy, BITMAPHANDLE_SIZE, 0, 0, 0);
    if (other.m_bitmap.Flags & BITMAP_FLAG_ALLOCATED) {
        if (RkCopyBitmap(&copy, BITMAPHANDLE_SIZE, &other.m_bitmap, BITMAPHANDLE_SIZE) < 1) {
            RkFreeBitmap(&copy);
            AfxThrowMemoryException();
        }
    }
    TItem::operator=(other);
    Done();
    // Done left an initialised, unallocated record; move the copy into it. The kernel's records
    // are plain values whose storage is owned through the record, so a bitwise transfer of an
    // unlocked record keeps it valid.
    m_bitmap = copy;
    CopiarMembres(other);
    return *this;
}

TDib::~TDib()
{
    Done();
}

void TDib::CopiarMembres(const TDib& source)
{
    m_canalAlpha = source.m_canalAlpha;
    m_resolucioX = source.m_resolucioX;
    m_resolucioY = source.m_resolucioY;
    m_espaiColor = source.m_espaiColor;
    m_canals = source.m_canals;
    m_bitsPerCanal = source.m_bitsPerCanal;
}

TDib* TDib::Duplicar() const
{
    try {
        return new TDib(this);
    } catch (CMemoryException* e) {
        e->Delete();
    } catch (const std::bad_alloc&) {
    }
    return nullptr;
}

// ---- release ----------------------------------------------------------------------------------

void TDib::Done()
{
    if (m_bitmap.Flags & BITMAP_FLAG_ALLOCATED)
        RkFreeBitmap(&m_bitmap);
    RkInitBitmap(&m_bitmap, BITMAPHANDLE_SIZE, 0, 0, 0);
    m_canalAlpha = -1;
    m_espaiColor = DIB_CS_NONE;
    m_canals = 0;
    m_bitsPerCanal = 0;
    std::free(m_bufferDisplay);
    m_bufferDisplay = nullptr;
}

int TDib::EsBuit() const
{
    return (m_bitmap.Flags & BITMAP_FLAG_ALLOCATED) ? 0 : 1;
}

CMosaRTTI* TDib::GetRTTI() const
{
    return &m_rttiTDib;
}

int TDib::NormalitzarTopLeft()
{
    if (!(m_bitmap.Flags & BITMAP_FLAG_ALLOCATED) || m_bitmap.ViewPerspective == RK_TOP_LEFT)
        return DIB_OK;
    const int r = RkFlipBitmap(&m_bitmap);
    if (r <= 0)
        return dib::StatusFromKernel(r);
    // The rows are now stored top-down; the kernel's flip leaves the perspective to the caller.
    m_bitmap.ViewPerspective = RK_TOP_LEFT;
    return DIB_OK;
}

// ---- creation -----------------------------------------------------------------------------

int TDib::Crear(int width, int height, int bitsPerPixel, const tagRGBQUAD* palette)
{
    Done();
    const int r = RkCreateBitmap(&m_bitmap, BITMAPHANDLE_SIZE, kMemoryConventional, width, height,
                                 bitsPerPixel, RK_ORDER_BGR, palette, RK_TOP_LEFT);
    if (r <= 0) {
        // The kernel leaves the requested geometry in a record it could not fill; an empty
        // image answers zero sizes.
        Done();
        return dib::StatusFromKernel(r);
    }
    m_bitmap.ViewPerspective = RK_TOP_LEFT;
    if (bitsPerPixel == 32) {
        m_canalAlpha = 3;
        const int a = RkSetBitmapAlphaValues(&m_bitmap, 255);
        if (a <= 0) {
            // A half-opaque image reported as a failure would still look filled: release it.
            Done();
            return dib::StatusFromKernel(a);
        }
    }
    return DIB_OK;
}

int TDib::CrearDisc(int width, int height, int bitsPerPixel, const tagRGBQUAD* palette)
{
    Done();
    std::array<tagRGBQUAD, 256> defaults{};
    if (!palette) {
        switch (bitsPerPixel) {
        case 1:
            defaults[0] = {0, 0, 0, 0};
            defaults[1] = {255, 255, 255, 0};
            palette = defaults.data();
            break;
        case 4:
            for (int i = 0; i < 15; ++i) {
                const auto g = static_cast<BYTE>(16 * (i + 1));
                defaults[i] = {g, g, g, 0};
            }
            defaults[15] = {0, 0, 0, 0};
            palette = defaults.data();
            break;
        case 8:
            for (int i = 0; i < 256; ++i) {
                const auto g = static_cast<BYTE>((i + 1) % 256);
                defaults[i] = {g, g, g, 0};
            }
            palette = defaults.data();
            break;
        default:
            break;
        }
    }
    const int r = RkCreateBitmap(&m_bitmap, BITMAPHANDLE_SIZE, RK_MEMORY_DISK, width, height,
                                 bitsPerPixel, RK_ORDER_BGR, palette, RK_TOP_LEFT);
    if (r <= 0) {
        Done(); // as in Crear
        return dib::StatusFromKernel(r);
    }
    m_bitmap.ViewPerspective = RK_TOP_LEFT;
    return DIB_OK;
}

// ---- memory access ------------------------------------------------------------------------

// Access counting is bookkeeping of the record, not a change of the image.
int TDib::Lock() const
{
    RkAccessBitmap(const_cast<_BITMAPHANDLE*>(&m_bitmap));
    return DIB_OK;
}

int TDib::Unlock() const
{
    RkReleaseBitmap(const_cast<_BITMAPHANDLE*>(&m_bitmap));
    return DIB_OK;
}

// ---- queries --------------------------------------------------------------------------------

int TDib::GetMidaX() const
{
    return m_bitmap.Width;
}

int TDib::GetMidaY() const
{
    return m_bitmap.Height;
}

int TDib::GetBitsPerPixel() const
{
    return m_bitmap.BitsPerPixel;
}

int TDib::GetBytesPerLinia() const
{
    return m_bitmap.BytesPerLine;
}

double TDib::GetResolucioX() const
{
    return EffectiveResolution(m_resolucioX, m_bitmap.XResolution);
}

double TDib::GetResolucioY() const
{
    return EffectiveResolution(m_resolucioY, m_bitmap.YResolution);
}

double TDib::GetMidaRealX() const
{
    return m_bitmap.Width / GetResolucioX() * 72.0;
}

double TDib::GetMidaRealY() const
{
    return m_bitmap.Height / GetResolucioY() * 72.0;
}

DIBSTATUSCALLBACK TDib::SetStatusCallBack(DIBSTATUSCALLBACK callback)
{
    return RkSetStatusCallback(callback, nullptr);
}
