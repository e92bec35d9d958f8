// cairo_draw.h - drawing with cairo on any device context, for the stand-ins that paint images
// (the raster kernel's paint, the GDI+ drawing calls).
//
// On a context made by WinCreateCairoDC the host's own cairo context is used, in its user
// space, clipped to the area. On every other context (a memory context with a bitmap, a
// bitmap context of the raster kernel, the screen) the area, clipped to the target, is read
// into a 32-bit image surface, drawn on in device coordinates, and written back by Finish:
// the memory used is that of the area, never more.
#pragma once

#include "../outside_api.h"
#include "windef.h"

typedef struct _cairo cairo_t;

namespace win {

class OUTSIDE_API CairoCanvas {
public:
    // A canvas on dc limited to area (device units; null: the whole target). ok() is false
    // for a bad handle, an area with nothing of the target in it, or memory shortage.
    CairoCanvas(HDC dc, const RECT* area);
    ~CairoCanvas(); // Finish, if not done yet
    CairoCanvas(const CairoCanvas&) = delete;
    CairoCanvas& operator=(const CairoCanvas&) = delete;

    bool ok() const { return cr_ != nullptr; }
    // True when the handle was good but nothing of the area can be drawn (outside the target
    // or the host's clip): drawing there succeeds without doing anything.
    bool nothingVisible() const { return nothing_; }
    // The context to draw on, in device coordinates of dc, clipped to the area; null when not
    // ok. Callers keep the context's state as they found it (cairo_save / cairo_restore).
    cairo_t* cr() const { return cr_; }
    // True when the target keeps vector drawing (a PDF page): images should then be drawn at
    // their own resolution rather than resampled first.
    bool vector() const { return vector_; }
    // The part of the area that can be changed, in device coordinates (integers, clipped to
    // the target and to the host's clip).
    const RECT& visible() const { return visible_; }
    // Writes the drawing back to the target (other contexts than a host's). False when the
    // drawing or the write-back failed; later calls answer the same.
    bool Finish();

private:
    HDC dc_ = nullptr;
    cairo_t* cr_ = nullptr;
    bool host_ = false;
    bool vector_ = false;
    bool finished_ = false;
    bool result_ = false;
    bool nothing_ = false;
    RECT visible_{};
    // Other contexts: the copy of the area and its memory context.
    HDC memDc_ = nullptr;
    HBITMAP section_ = nullptr;
    HGDIOBJ previous_ = nullptr;
};

} // namespace win
