// cairo_dc.h - device contexts on a host's cairo context: a widget's drawing context, an image
// surface, a page of a print job.
//
// GDI calls on such a context draw with cairo in its user space, one unit per device unit of
// the context, through the context's transformation and clip. Drawing that only writes
// (FillRect, SetPixel, BitBlt/StretchBlt/StretchDIBits with SRCCOPY, NOTSRCCOPY, BLACKNESS or
// WHITENESS, DrawIcon) works on every surface; stretched pixels keep their full resolution (a
// PDF page receives the source image, not a resampled copy). Calls that read the context
// (GetPixel, the context as a blit source, SRCAND, SRCPAINT, SRCINVERT) need an image surface
// (ARGB32 or RGB24) and fail otherwise with their usual failure result.
//
// A context of this kind takes no bitmap (SelectObject of a bitmap fails); memory contexts and
// bitmaps made compatible with it are 32-bit.
//
// Threads: calls on one context are serialised, but a cairo context is not safe for use from
// two threads: the caller keeps its own drawing on cr (and any other context made on the same
// cr) from overlapping calls on this one.
#pragma once

#include "../outside_api.h"
#include "windef.h"

typedef struct _cairo cairo_t;

// A device context drawing on cr, whose drawable area is width x height units, for a device of
// dpi dots per inch (GetDeviceCaps LOGPIXELSX/Y; 0 means 96). The context keeps a reference to
// cr until DeleteDC. Null when cr is null or in an error state, or a size is not positive.
OUTSIDE_API HDC WinCreateCairoDC(cairo_t* cr, int width, int height, int dpi);

// The cairo context of a context made by WinCreateCairoDC (borrowed: the context keeps its
// reference); null for every other context and for bad handles.
OUTSIDE_API cairo_t* WinGetDCCairo(HDC dc);
