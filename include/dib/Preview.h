// Preview.h - TPLPreviewDIBDinamic, the line consumer that builds a scaled copy of an image from
// its lines, one at a time, without the source image ever being held.
//
// Use: construct -> Init -> Processar for each source line -> Done -> TreuDIB -> destroy.
// Each incoming line is converted to the destination layout (one byte per channel, the
// colour space's default channel count), scaled by the streaming resize (TDib::DynamicResize:
// area average on reductions, interpolation on enlargements), then:
//  - a 32-bit (CMYK) destination line is adapted for display (TDib::AdaptarPerCarregarCMYK),
//    except for sources of format 76 (Photoshop composites, already display colours);
//  - otherwise a 24-bit destination line with an alpha line is composited over white.
// Incoming depths: 8 and 16 bits per channel (16-bit samples through g_word2byte), and 1, 2
// and 4 bits per channel (packed, most significant bits first), which are expanded to 8 bits
// first: through the palette given at construction when there is one (its colours, or their
// grey for a one-channel destination), else as grey levels spread over 0 .. 255.
#pragma once

#include <dib/Export.h>
#include <dib/LineConsumer.h>
#include <dib/outside/base/ofp_info.h>
#include <dib/outside/win/afx.h>
#include <dib/outside/win/windef.h>

class TDib;
class TIndicadorEstat;

class DIB_API TPLPreviewDIBDinamic : public TProcesLiniaDIB {
public:
    // cs, bpc, cha, alpha: the format of the incoming lines (TProcesLiniaDIB). srcWidth x
    // srcHeight: the source; dstWidth x dstHeight: the preview. palette: borrowed, read until
    // Init has run (null: none; an 8-bit destination then gets a 256-level grey palette; a
    // source of 1, 2 or 4 bits reads 2^bits entries of it). destination: null (Init creates
    // the image) or an image that becomes the scaler's. spareFlag is kept and copied only.
    // sourceFormat: the file-format number of the source (76 turns off the CMYK adaptation).
    TPLPreviewDIBDinamic(unsigned long cs, int bpc, int cha, int alpha, int srcWidth, int srcHeight,
                         int dstWidth, int dstHeight, tagRGBQUAD* palette, TDib* destination,
                         int spareFlag, int sourceFormat);
    // Copies take the settings and a deep copy (TDib::Duplicar) of a destination the original
    // still holds; never the run's buffers, resize state or made palette. A copy starts
    // unprepared: run it from Init. Nothing is ever released twice.
    TPLPreviewDIBDinamic(const TPLPreviewDIBDinamic& other);
    TPLPreviewDIBDinamic& operator=(const TPLPreviewDIBDinamic& other);
    // Deletes a destination still held, the palette made by Init, the buffers, and a resize
    // state that Done did not end (a source that failed or was cancelled mid-run).
    ~TPLPreviewDIBDinamic() override;

    // Creates the destination (dstWidth x dstHeight at 8 x channels bits), locks it, allocates
    // the line buffers and starts the resize. region becomes the whole source. The width and
    // height arguments are not used. Results: 0 (first line wanted: 0); -3 for a size below 1,
    // an incoming depth other than 1, 2, 4, 8 or 16 bits per channel, fewer incoming channels
    // than the destination has, or an Init while a run is live; Crear's status; -1 no memory;
    // the resize's refusal - 3000.
    int Init(int width, int height, CRect& region) override;
    // Consumes one source line (the source's layout, see above); lines past the source height,
    // or outside a prepared run, are ignored. Always 1.
    int Processar(unsigned char* line, unsigned char* alpha) override;
    // Ends the resize, releases the buffers, unlocks the destination still held. 0.
    int Done() override;

    // Hands the destination over; the caller deletes it. Null when there is none (or after
    // the first call). Releases the palette made by Init. Call it after Done.
    TDib* TreuDIB();

protected:
    // Converts and scales one line; returns how many destination lines it yields (0 when the
    // line is dropped, past the source height or outside a run), the scaled width in outWidth.
    int doEscalarLinia(unsigned char* line, unsigned char* alpha, int& outWidth);

private:
    void ReleaseRun();
    void ReleaseMadePalette();
    void CopySettings(const TPLPreviewDIBDinamic& other);

    TDib* m_desti = nullptr;
    int m_srcX = 0, m_srcY = 0;
    int m_dstX = 0, m_dstY = 0;
    int m_dstCanals = 0;
    int m_dstBpp = 0;
    unsigned char* m_linia = nullptr;
    unsigned char* m_alpha = nullptr;
    unsigned long m_srcBytes = 0, m_dstBytes = 0;
    unsigned long m_srcAlphaBytes = 0, m_dstAlphaBytes = 0;
    void* m_resize = nullptr;
    void* m_resizeAlpha = nullptr; // the alpha line's own run (it may share the colour's depth)
    int m_nextSrc = 0;
    int m_nextDst = 0;
    tagRGBQUAD* m_paleta = nullptr;       // the palette in use: given, or made by Init
    tagRGBQUAD* m_paletaDonada = nullptr; // the creator's (borrowed)
    int m_paletaPropia = 0;
    int m_spare = 0;
    int m_formatOrigen = 0;
    tagRGBQUAD* m_expansio = nullptr; // colours of packed indices (1, 2, 4 bits), made by Init
    int m_locked = 0;
};

// The member TDib::GetPreview of source (null: -3, preview null).
DIB_API int GetPreviewDIB(TDib* source, int sizeKB, TDib*& preview, TIndicadorEstat* progress);
// The budgeted TDib::GetPreview of the file at path, without a description from the caller.
DIB_API int GetPreviewFitxerDIB(const wchar_t* path, int sizeKB, TDib*& preview,
                                TIndicadorEstat* progress);

// Fills a file-open dialog's information pane for info->m_strPath: with OFP_DESCRIPTION the
// file's one-text description (TDib::GetInfoFitxer) through info->SetInfo; with OFP_PREVIEW a
// preview fitted in m_rcPreview on white (the boxed TDib::GetPreview, m_pProgress) as a
// 24-bit device-dependent bitmap handed to info->SetPreview, which takes it over. Without
// OFP_PREVIEW no pixel is decoded. 1 handled; 0 for a null info, a path that is no readable
// image, or a preview that could not be made (no partial preview is handed over).
DIB_API int _ofpGetInfoFitxerDIB(OFP_INFO* info);
