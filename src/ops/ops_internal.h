// ops_internal.h - what the operation sources share: a kernel record owned by scope, and the
// hand-over of a finished bitmap to an image.
#pragma once

#include <cstring>
#include <dib/TDib.h>
#include <dib/internal/dib_access.h>
#include <raster/kernel.h>

namespace dib::ops {

// A kernel record that frees its bitmap when it goes out of scope, unless released.
class ScopedBitmap {
public:
    ScopedBitmap() { RkInitBitmap(&record_, BITMAPHANDLE_SIZE, 0, 0, 0); }
    ~ScopedBitmap()
    {
        if (record_.Flags & BITMAP_FLAG_ALLOCATED)
            RkFreeBitmap(&record_);
    }
    ScopedBitmap(const ScopedBitmap&) = delete;
    ScopedBitmap& operator=(const ScopedBitmap&) = delete;

    _BITMAPHANDLE* get() { return &record_; }
    _BITMAPHANDLE& operator*() { return record_; }
    _BITMAPHANDLE* operator->() { return &record_; }

    // Moves the bitmap into image, whose previous bitmap and display buffer are freed; the
    // image's other members stay. This record is left empty.
    void HandTo(TDib& image)
    {
        _BITMAPHANDLE& target = TDibAccess::Bitmap(image);
        if (target.Flags & BITMAP_FLAG_ALLOCATED)
            RkFreeBitmap(&target);
        std::memcpy(&target, &record_, sizeof record_);
        RkInitBitmap(&record_, BITMAPHANDLE_SIZE, 0, 0, 0);
        unsigned char*& display = TDibAccess::BufferDisplay(image);
        std::free(display);
        display = nullptr;
    }

private:
    _BITMAPHANDLE record_;
};

// True when the image holds pixels.
inline bool Filled(const TDib& image)
{
    return (TDibAccess::Bitmap(image).Flags & BITMAP_FLAG_ALLOCATED) != 0;
}

} // namespace dib::ops
