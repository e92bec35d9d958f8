// preview_scaler.cpp - TPLPreviewDIBDinamic: a scaled copy of an image built line by line.
//
//   DefaultChannels, GreyOf           channel count of a colour space; grey of a palette colour
//   construction, copies, destructor  settings copied, run state never shared
//   Init / Processar / Done / TreuDIB the run
//   doEscalarLinia                    incoming line -> destination layout -> streaming resize
#include <algorithm>
#include <base/word2byte.h>
#include <cmath>
#include <core/last_error.h>
#include <cstdlib>
#include <cstring>
#include <dib/Preview.h>
#include <dib/TDib.h>
#include <raster/kernel_status.h>
#include <raster/resize/stream_resize.h>

namespace {

// Channels of a colour space's pixels (0 for codes without a fixed count).
int DefaultChannels(unsigned long cs)
{
    switch (static_cast<std::uint32_t>(cs)) {
    case DIB_CS_CMYK:
        return 4;
    case DIB_CS_LAB:
    case DIB_CS_RGB:
        return 3;
    case DIB_CS_GREY:
    case DIB_CS_MONO:
        return 1;
    default:
        return 0;
    }
}

unsigned char GreyOf(const tagRGBQUAD& c)
{
    return static_cast<unsigned char>(
        std::lround(0.299 * c.rgbRed + 0.587 * c.rgbGreen + 0.114 * c.rgbBlue));
}

int Refuse(const char* why)
{
    core::SetLastErrorText(why);
    return DIB_ERR_INVALID;
}

} // namespace

TPLPreviewDIBDinamic::TPLPreviewDIBDinamic(unsigned long cs, int bpc, int cha, int alpha,
                                           int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                                           tagRGBQUAD* palette, TDib* destination, int spareFlag,
                                           int sourceFormat)
    : TProcesLiniaDIB(cs, bpc, cha, alpha), m_desti(destination), m_srcX(srcWidth),
      m_srcY(srcHeight), m_dstX(dstWidth), m_dstY(dstHeight), m_paleta(palette),
      m_paletaDonada(palette), m_spare(spareFlag), m_formatOrigen(sourceFormat)
{
    m_dstCanals = DefaultChannels(cs);
    if (m_dstCanals < 1)
        m_dstCanals = cha;
    m_dstBpp = m_dstCanals * 8;
}

void TPLPreviewDIBDinamic::CopySettings(const TPLPreviewDIBDinamic& other)
{
    TProcesLiniaDIB::operator=(other);
    m_srcX = other.m_srcX;
    m_srcY = other.m_srcY;
    m_dstX = other.m_dstX;
    m_dstY = other.m_dstY;
    m_dstCanals = other.m_dstCanals;
    m_dstBpp = other.m_dstBpp;
    m_paletaDonada = other.m_paletaDonada;
    m_paleta = other.m_paletaDonada;
    m_paletaPropia = 0;
    m_spare = other.m_spare;
    m_formatOrigen = other.m_formatOrigen;
    m_desti = other.m_desti ? other.m_desti->Duplicar() : nullptr;
}

TPLPreviewDIBDinamic::TPLPreviewDIBDinamic(const TPLPreviewDIBDinamic& other)
    : TProcesLiniaDIB(other)
{
    CopySettings(other);
}

TPLPreviewDIBDinamic& TPLPreviewDIBDinamic::operator=(const TPLPreviewDIBDinamic& other)
{
    if (this == &other)
        return *this;
    ReleaseRun();
    delete m_desti;
    m_desti = nullptr;
    ReleaseMadePalette();
    CopySettings(other);
    return *this;
}

TPLPreviewDIBDinamic::~TPLPreviewDIBDinamic()
{
    ReleaseRun();
    delete m_desti;
    ReleaseMadePalette();
}

void TPLPreviewDIBDinamic::ReleaseRun()
{
    if (m_resize)
        RkStopResize(m_resize);
    if (m_resizeAlpha)
        RkStopResize(m_resizeAlpha);
    m_resize = m_resizeAlpha = nullptr;
    std::free(m_linia);
    std::free(m_alpha);
    m_linia = m_alpha = nullptr;
    delete[] m_expansio;
    m_expansio = nullptr;
    if (m_locked && m_desti)
        m_desti->Unlock();
    m_locked = 0;
}

void TPLPreviewDIBDinamic::ReleaseMadePalette()
{
    if (m_paletaPropia)
        delete[] m_paleta;
    m_paleta = m_paletaDonada;
    m_paletaPropia = 0;
}

int TPLPreviewDIBDinamic::Init(int, int, CRect& region)
{
    if (m_resize)
        return Refuse("the scaler is already running");
    ReleaseRun(); // what a refused earlier Init left behind
    if (m_srcX < 1 || m_srcY < 1 || m_dstX < 1 || m_dstY < 1)
        return Refuse("a source or preview side is below 1");
    const int bpc = OutBpc(), cha = OutCha();
    // Indexed lines: one sample per pixel at 1, 2 or 4 bits, or at 8 bits when the destination
    // has several channels; samples are expanded through the palette (or a grey ramp).
    const bool indexed =
        cha == 1 && (bpc == 1 || bpc == 2 || bpc == 4 || (bpc == 8 && m_dstCanals > 1));
    if (!indexed) {
        if (bpc != 8 && bpc != 16)
            return Refuse("the preview takes 1, 2, 4, 8 or 16 bits per channel");
        if (cha < m_dstCanals)
            return Refuse("the lines have fewer channels than the colour space");
    }
    if (m_dstCanals < 1 || m_dstCanals > 4 || (indexed && m_dstCanals != 1 && m_dstCanals != 3))
        return Refuse("no preview layout for these channels");

    if (m_desti == nullptr) {
        m_desti = new (std::nothrow) TDib();
        if (m_desti == nullptr)
            return DIB_ERR_NO_MEMORY;
    }
    region = CRect(0, 0, m_srcX - 1, m_srcY - 1);
    const int made = m_desti->Crear(m_dstX, m_dstY, m_dstBpp, nullptr);
    if (made != DIB_OK) {
        delete m_desti;
        m_desti = nullptr;
        return made;
    }

    // Indexed samples become colours (or greys) before scaling: the destination then holds
    // levels, and a one-channel destination gets the grey ramp instead of the index palette.
    if (indexed) {
        const int entries = 1 << bpc;
        m_expansio = new (std::nothrow) tagRGBQUAD[entries];
        if (m_expansio == nullptr)
            return DIB_ERR_NO_MEMORY;
        for (int i = 0; i < entries; ++i) {
            if (m_paletaDonada) {
                m_expansio[i] = m_paletaDonada[i];
            } else {
                const auto v = static_cast<unsigned char>(i * 255 / (entries - 1));
                m_expansio[i] = tagRGBQUAD{v, v, v, 0};
            }
        }
    }
    if (m_dstBpp == 8 && (m_paleta == nullptr || indexed)) {
        ReleaseMadePalette();
        m_paleta = new (std::nothrow) tagRGBQUAD[256];
        if (m_paleta == nullptr) {
            m_paleta = m_paletaDonada;
            return DIB_ERR_NO_MEMORY;
        }
        m_paletaPropia = 1;
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<unsigned char>(i);
            m_paleta[i] = tagRGBQUAD{v, v, v, 0};
        }
    }
    if (m_paleta && m_dstBpp == 8)
        m_desti->SetPaleta(m_paleta);
    m_desti->Lock();
    m_locked = 1;

    m_srcBytes = TDib::TamanyLinia(m_srcX, m_dstBpp, 4);
    m_dstBytes = TDib::TamanyLinia(m_dstX, m_dstBpp, 4);
    m_srcAlphaBytes = TDib::TamanyLinia(m_srcX, 8, 4);
    m_dstAlphaBytes = TDib::TamanyLinia(m_dstX, 8, 4);
    if (m_srcBytes == 0 || m_dstBytes == 0 || m_srcAlphaBytes == 0 || m_dstAlphaBytes == 0)
        return Refuse("the preview lines are too long");
    m_linia = static_cast<unsigned char*>(std::malloc(std::max(m_srcBytes, m_dstBytes)));
    m_alpha = static_cast<unsigned char*>(std::malloc(std::max(m_srcAlphaBytes, m_dstAlphaBytes)));
    if (m_linia == nullptr || m_alpha == nullptr) {
        core::SetLastErrorText("no memory for the preview lines");
        return DIB_ERR_NO_MEMORY;
    }
    m_nextSrc = 0;
    m_nextDst = 0;
    int r = RkStartResize(m_srcX, m_srcY, m_dstX, m_dstY, &m_resize);
    if (r >= 1)
        r = RkStartResize(m_srcX, m_srcY, m_dstX, m_dstY, &m_resizeAlpha);
    if (r < 1) {
        core::SetLastErrorText(RkStatusText(r));
        return r + DIB_STATUS_KERNEL_BASE;
    }
    return 0;
}

int TPLPreviewDIBDinamic::doEscalarLinia(unsigned char* line, unsigned char* alpha, int& outWidth)
{
    if (m_resize == nullptr || line == nullptr || m_nextSrc >= m_srcY)
        return 0;
    const int n = m_srcX, ch = m_dstCanals, bpc = OutBpc(), cha = OutCha();
    unsigned char* out = m_linia;
    if (m_expansio) {
        const unsigned mask = (1u << bpc) - 1;
        for (int x = 0; x < n; ++x) {
            const std::size_t bit = static_cast<std::size_t>(x) * bpc;
            const unsigned v = (line[bit / 8] >> (8 - bpc - bit % 8)) & mask;
            const tagRGBQUAD& c = m_expansio[v];
            if (ch == 1) {
                out[x] = GreyOf(c);
            } else {
                out[3 * x] = c.rgbBlue;
                out[3 * x + 1] = c.rgbGreen;
                out[3 * x + 2] = c.rgbRed;
            }
        }
    } else if (bpc == 8 && cha == ch) {
        std::memcpy(out, line, static_cast<std::size_t>(n) * ch);
    } else if (bpc == 8) {
        for (int x = 0; x < n; ++x)
            std::memcpy(out + static_cast<std::size_t>(x) * ch,
                        line + static_cast<std::size_t>(x) * cha, ch);
    } else {
        // 16-bit samples as native words; the line need not be aligned for them.
        for (int x = 0; x < n; ++x)
            for (int c = 0; c < ch; ++c) {
                std::uint16_t s;
                std::memcpy(&s, line + (static_cast<std::size_t>(x) * cha + c) * 2, 2);
                out[static_cast<std::size_t>(x) * ch + c] = g_word2byte[s];
            }
    }
    if (alpha) {
        if (bpc == 16) {
            for (int x = 0; x < n; ++x) {
                std::uint16_t s;
                std::memcpy(&s, alpha + static_cast<std::size_t>(x) * 2, 2);
                m_alpha[x] = g_word2byte[s];
            }
        } else if (bpc == 8) {
            std::memcpy(m_alpha, alpha, static_cast<std::size_t>(n));
        } else {
            alpha = nullptr; // no alpha planes at packed depths
        }
    }

    int count = 0, width = m_dstX;
    if (RkResizeRow(m_linia, m_nextSrc, m_dstBpp, &width, &count, m_resize) < 1)
        count = 0;
    if (alpha) {
        int alphaCount = 0, alphaWidth = 0;
        if (RkResizeRow(m_alpha, m_nextSrc, 8, &alphaWidth, &alphaCount, m_resizeAlpha) < 1)
            count = 0;
    }
    ++m_nextSrc;
    outWidth = width;
    return count;
}

int TPLPreviewDIBDinamic::Processar(unsigned char* line, unsigned char* alpha)
{
    int outWidth = 0;
    const int n = doEscalarLinia(line, alpha, outWidth);
    if (n < 1 || m_desti == nullptr)
        return 1;
    const unsigned long bytes = TDib::TamanyLinia(outWidth, m_dstBpp, 4);
    if (m_dstBpp == 32 && m_formatOrigen != 76) {
        TDib::AdaptarPerCarregarCMYK(m_linia, outWidth);
    } else if (alpha && m_dstBpp == 24 && (OutBpc() == 8 || OutBpc() == 16)) {
        for (int x = 0; x < outWidth; ++x) {
            const double a = m_alpha[x] / 255.0;
            for (int c = 0; c < 3; ++c) {
                unsigned char& v = m_linia[3 * x + c];
                v = static_cast<unsigned char>(std::lround(v * a + (1.0 - a) * 255.0));
            }
        }
    }
    for (int k = 0; k < n && m_nextDst < m_dstY; ++k, ++m_nextDst)
        m_desti->SetLinia(m_nextDst, m_linia, bytes);
    return 1;
}

int TPLPreviewDIBDinamic::Done()
{
    ReleaseRun();
    return 0;
}

TDib* TPLPreviewDIBDinamic::TreuDIB()
{
    if (m_locked && m_desti)
        m_desti->Unlock();
    m_locked = 0;
    TDib* out = m_desti;
    m_desti = nullptr;
    ReleaseMadePalette();
    return out;
}
