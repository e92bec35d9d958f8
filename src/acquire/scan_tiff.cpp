// scan_tiff.cpp - a scan written straight into a TIFF file, one row at a time, at the
// device's full depth: a 1200 dpi A4 colour scan at 16 bits (about 400 MiB) never sits in
// memory.
#include "acquire_internal.h"

#include <core/last_error.h>
#include <cstdio>
#include <scan/scan.h>
#include <string>
#include <tiffio.h>
#include <vector>
#include <win/files.h>

namespace {

// Rows of the scan in the device's layout are TIFF's own: 1 bit with 1 black
// (min-is-white), 8 or 16 bits (native byte order, which libtiff records), colour red, green,
// blue interleaved.
class TiffRows : public ScRowConsumer {
public:
    explicit TiffRows(TIFF* tiff) : m_tiff(tiff) {}
    int Begin(const SCSCANFORMAT& f) override
    {
        m_format = f;
        TIFFSetField(m_tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(f.width));
        // A hand scanner's height is not known: libtiff grows the image with each row.
        TIFFSetField(m_tiff, TIFFTAG_IMAGELENGTH,
                     static_cast<std::uint32_t>(f.height > 0 ? f.height : 1));
        TIFFSetField(m_tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(f.channels));
        TIFFSetField(m_tiff, TIFFTAG_BITSPERSAMPLE, static_cast<std::uint16_t>(f.bitsPerSample));
        TIFFSetField(m_tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
        TIFFSetField(m_tiff, TIFFTAG_PHOTOMETRIC,
                     f.channels == 3        ? PHOTOMETRIC_RGB
                     : f.bitsPerSample == 1 ? PHOTOMETRIC_MINISWHITE
                                            : PHOTOMETRIC_MINISBLACK);
        TIFFSetField(m_tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
        TIFFSetField(m_tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
        if (f.xDpi > 0 && f.yDpi > 0) {
            TIFFSetField(m_tiff, TIFFTAG_XRESOLUTION, static_cast<float>(f.xDpi));
            TIFFSetField(m_tiff, TIFFTAG_YRESOLUTION, static_cast<float>(f.yDpi));
            TIFFSetField(m_tiff, TIFFTAG_RESOLUTIONUNIT, RESUNIT_INCH);
        }
        // Unknown height: one row per strip, so that each new row is one new strip.
        TIFFSetField(m_tiff, TIFFTAG_ROWSPERSTRIP,
                     f.height > 0 ? TIFFDefaultStripSize(m_tiff, 0) : 1u);
        if (static_cast<std::uint64_t>(TIFFScanlineSize64(m_tiff)) != f.bytesPerRow) {
            core::SetLastErrorText("scan: row size does not match the TIFF layout");
            return 0;
        }
        try {
            m_row.assign(f.bytesPerRow, 0);
        } catch (...) {
            return 0;
        }
        return 1;
    }
    int Row(const std::uint8_t* row) override
    {
        std::copy(row, row + m_row.size(), m_row.begin());
        if (TIFFWriteScanline(m_tiff, m_row.data(), m_y, 0) != 1) {
            m_writeFailed = true;
            core::SetLastErrorText("scan: the TIFF file could not be written");
            return 0;
        }
        ++m_y;
        return 1;
    }
    bool WriteFailed() const { return m_writeFailed; }

private:
    TIFF* m_tiff;
    SCSCANFORMAT m_format{};
    std::vector<std::uint8_t> m_row; // libtiff may change the row it is given
    std::uint32_t m_y = 0;
    bool m_writeFailed = false;
};

} // namespace

int TDib::EscanejarATIFF(const wchar_t* source, const DIB_SCANSETTINGS* settings,
                         const wchar_t* path)
{
    std::string file;
    if (!path || !*path || !PathToUtf8(path, file)) {
        core::SetLastErrorText("scan: invalid file name");
        return DIB_ERR_INVALID;
    }
    TTwainOperation op(nullptr);
    if (!op.EsBuit())
        return DIB_ERR_FAILED;
    _LTWAINPROPERTIES p = dib::PropietatsDe(settings, true);
    int r = op.SetProperties(&p);
    if (r == SC_SUCCESS && source && *source)
        r = op.TwainSelect(source);
    if (r != SC_SUCCESS)
        return dib::StatusEscaneig(r);
    TIFF* tiff = TIFFOpen(file.c_str(), "w");
    if (!tiff) {
        core::SetLastErrorTextF("scan: cannot create %s", file.c_str());
        return DIB_ERR_FAILED;
    }
    TiffRows rows(tiff);
    r = ScTwainAcquireRows(op.GetSession(), &rows);
    bool ok = r == SC_SUCCESS && !rows.WriteFailed();
    if (ok && TIFFFlush(tiff) != 1) {
        core::SetLastErrorText("scan: the TIFF file could not be completed");
        ok = false;
    }
    TIFFClose(tiff);
    if (!ok) {
        std::remove(file.c_str());
        return r != SC_SUCCESS ? dib::StatusEscaneig(r) : DIB_ERR_FAILED;
    }
    return DIB_OK;
}
