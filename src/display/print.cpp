// print.cpp - printing an image, as the settings store says: "ModeImpressio" and
// "FlagsImpressio" under the "DIB" key of the application's key.
#include "display/display_internal.h"

#include <base/registry.h>
#include <core/last_error.h>
#include <cstdint>
#include <dib/internal/status_map.h>
#include <limits>
#include <raster/kernel_status.h>
#include <raster/paint/paint.h>

namespace {

constexpr int kDefaultMode = 0;
constexpr unsigned long kDefaultFlags = 40;

struct PrintSettings {
    int mode = kDefaultMode;
    unsigned long flags = kDefaultFlags;
};

PrintSettings ReadPrintSettings()
{
    PrintSettings s;
    TCarpetaRegistry application(HKEY_CURRENT_USER, TCarpetaRegistry::GetClauAplicacio().c_str());
    TCarpetaRegistry folder(application, L"DIB");
    if (folder.Obrir(0)) {
        folder.TornaValor(L"ModeImpressio", s.mode, kDefaultMode);
        folder.TornaValor(L"FlagsImpressio", s.flags, kDefaultFlags);
    }
    return s;
}

bool FitsInt(std::int64_t v)
{
    return v >= std::numeric_limits<int>::min() && v <= std::numeric_limits<int>::max();
}

} // namespace

int TDib::Print(CDC* dc, const tagRECT* src, const tagRECT* dst, const tagRECT* clip) const
{
    HDC hdc = dc ? dc->GetSafeHdc() : nullptr;
    const PrintSettings settings = ReadPrintSettings();
    int r;
    if (settings.mode == 1) {
        const std::uint32_t old = RkSetDisplayMode(0xFFFFFFFFu, std::uint32_t(settings.flags));
        RkSetPaintSwitch(1);
        r = RkPaintDC(hdc, &m_bitmap, src, nullptr, dst, clip, SRCCOPY);
        RkSetDisplayMode(0xFFFFFFFFu, old);
    } else {
        // The destination's edges are inclusive here, and a corner on the page's edge moves
        // in by one unit.
        std::int64_t x = 0, y = 0, w = 0, h = 0;
        if (dst) {
            x = dst->left == 0 ? 1 : dst->left;
            y = dst->top == 0 ? 1 : dst->top;
            w = std::int64_t(dst->right) - dst->left + 1;
            h = std::int64_t(dst->bottom) - dst->top + 1;
        }
        if (!FitsInt(w) || !FitsInt(h) || w < 0 || h < 0) {
            core::SetLastErrorText("the destination rectangle is inside out or too large");
            return DIB_ERR_INVALID;
        }
        r = RkPrintBitmap(hdc, &m_bitmap, int(x), int(y), int(w), int(h), 0);
    }
    if (r <= 0)
        core::SetLastErrorTextF("printing failed: %s", RkStatusText(r));
    return dib::StatusFromKernel(r);
}

int TDib::Print(CDC* dc, const tagRECT* dst, const tagRECT* clip) const
{
    return Print(dc, nullptr, dst, clip);
}

int TDib::Print(CDC* dc, const tagRECT* dst) const
{
    return Print(dc, nullptr, dst, nullptr);
}
