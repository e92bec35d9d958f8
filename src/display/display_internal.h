// display_internal.h - what the display folder's sources share.
#pragma once

#include <cstdint>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <memory>

namespace dib::display {

// The kernel's painting state around one paint: the display-mode bits with the alpha bit
// cleared, the sampling bit (area average for high quality, else nearest) and the palette and
// dither bits set, the painting switch on, and (usePalette) the image's palette selected and
// realised in dc. The destructor selects the previous palette back, deletes the created one
// and restores every display-mode bit.
class PaintSession {
public:
    PaintSession(HDC dc, const _BITMAPHANDLE* bitmap, bool highQuality, bool usePalette);
    ~PaintSession();
    PaintSession(const PaintSession&) = delete;
    PaintSession& operator=(const PaintSession&) = delete;

private:
    HDC dc_;
    std::uint32_t saved_ = 0;
    HPALETTE palette_ = nullptr;
    HPALETTE previous_ = nullptr;
};

// The mask as 8-bit grey: mask itself when it has 8 bits, else a grey copy kept in holder.
// Null when mask is null or the copy fails.
const TDib* GreyMask(const TDib* mask, std::unique_ptr<TDib>& holder);

} // namespace dib::display
