// dib_access.h - library-internal access to a TDib's members.
//
// The members of TDib are protected: hosts see the image only through its operations. The
// library's own readers, writers and consumers (which are not TDib members) reach the bitmap
// record and the descriptive members through these accessors.
#pragma once

#include <cstdint>
#include <dib/TDib.h>

namespace dib {

struct TDibAccess {
    static _BITMAPHANDLE& Bitmap(TDib& d) { return d.m_bitmap; }
    static const _BITMAPHANDLE& Bitmap(const TDib& d) { return d.m_bitmap; }
    static double& ResolucioX(TDib& d) { return d.m_resolucioX; }
    static double& ResolucioY(TDib& d) { return d.m_resolucioY; }
    static std::uint32_t& EspaiColor(TDib& d) { return d.m_espaiColor; }
    static std::uint32_t& Canals(TDib& d) { return d.m_canals; }
    static std::uint32_t& BitsPerCanal(TDib& d) { return d.m_bitsPerCanal; }
    static std::int32_t& CanalAlpha(TDib& d) { return d.m_canalAlpha; }
    static double ResolucioX(const TDib& d) { return d.m_resolucioX; }
    static double ResolucioY(const TDib& d) { return d.m_resolucioY; }
    static std::uint32_t EspaiColor(const TDib& d) { return d.m_espaiColor; }
    static std::uint32_t Canals(const TDib& d) { return d.m_canals; }
    static std::uint32_t BitsPerCanal(const TDib& d) { return d.m_bitsPerCanal; }
    static std::int32_t CanalAlpha(const TDib& d) { return d.m_canalAlpha; }
    static unsigned char*& BufferDisplay(TDib& d) { return d.m_bufferDisplay; }
    // The own TIFF writer's protected members (codecs/tiff), for its tests.
    static int SaveTiff(const TDib& d, const wchar_t* path, int compression, int cmyk,
                        TIndicadorEstat* progress)
    {
        return d._saveTiff(path, compression, cmyk, progress);
    }
    static int SaveTiffMemory(const TDib& d, void*& memory, unsigned long& size, int compression)
    {
        return d._saveTiffMemory(memory, size, compression);
    }
    // Flips a bottom-up bitmap to top-down and records perspective 1; status.
    static int NormalitzarTopLeft(TDib& d) { return d.NormalitzarTopLeft(); }
    // The JPEG reader's entry points (codecs/jpeg).
    static int InfoJPEG(const wchar_t* path, CFILEINFO& info)
    {
        return TDib::_infoJPEG(path, info);
    }
    static int LoadJPEG(TDib& d, const wchar_t* path, int bitsPerPixel, TProcesLiniaDIB* processor,
                        TIndicadorEstat* progress, int intoImage, int adaptCMYK)
    {
        return d._loadJPEG(path, bitsPerPixel, 0, processor, progress, intoImage, adaptCMYK);
    }
    // Caller row r -> stored row (r itself for top-left bitmaps); -1 for a row outside the
    // bitmap, which every kernel row call refuses.
    static int StoredRow(const _BITMAPHANDLE& b, int r)
    {
        if (r < 0 || r >= b.Height)
            return -1;
        return b.ViewPerspective == RK_TOP_LEFT ? r : b.Height - 1 - r;
    }
};

} // namespace dib
