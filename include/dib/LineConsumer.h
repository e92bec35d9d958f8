// LineConsumer.h - TProcesLiniaDIB, the consumer to which line-by-line sources hand an image one
// scan line at a time, top to bottom, without the whole image being held.
//
// Protocol (every source follows it):
//  1. Init(width, height, region) exactly once, before any line. region arrives as (0, 0,
//     width - 1, height - 1), inclusive, or the caller's region; the consumer may change it.
//     A result >= 0 is the first line wanted; < 0 refuses the run: no line, no Done.
//  2. Processar(line, alpha) once per delivered line in increasing order (line 0 is the top of
//     the image as the user sees it). line points at column region.left in the source's own
//     layout (samples interleaved, 16-bit samples as native words), without the alpha samples
//     when they travel separately; alpha is null or one sample per pixel of the same line.
//     Both buffers are the source's and are reused for the next line: copy what you keep.
//     A result of 0 ends the run early (not an error).
//  3. Done() once after the last line, only when Init succeeded. 0 or more is success.
//
// The four format values are fixed at construction and describe what the consumer expects;
// sources do not convert lines, so a consumer is built with the source's colour space, channels
// and bits per channel. Only OutAlpha changes what a source delivers (non-zero: alpha as a
// separate line).
#pragma once

#include <cstdint>
#include <dib/Export.h>
#include <dib/outside/win/afx.h>

class DIB_API TProcesLiniaDIB {
public:
    // Note the argument order (cs, bpc, cha, alpha) differs from the field order.
    TProcesLiniaDIB(unsigned long cs, int bpc, int cha, int alpha);
    TProcesLiniaDIB(const TProcesLiniaDIB& other) = default;
    TProcesLiniaDIB& operator=(const TProcesLiniaDIB& other) = default;

    // Table slots in this order.
    virtual ~TProcesLiniaDIB();
    virtual int Init(int width, int height, CRect& region) = 0;
    virtual int Processar(unsigned char* line, unsigned char* alpha) = 0;
    virtual int Done() = 0;
    // A width and a height for callers and subclasses; the base answers -1. No source calls
    // them.
    virtual int GetMidaX();
    virtual int GetMidaY();

    unsigned long OutCS() const { return m_outCS; }
    int OutCha() const { return m_outCha; }
    int OutBpc() const { return m_outBpc; }
    int OutAlpha() const { return m_outAlpha; }

protected:
    std::uint32_t m_outCS; // colour-space code (dib/ColourSpace.h)
    int m_outCha;          // channels of the colour line
    int m_outBpc;          // bits per channel of the colour line
    int m_outAlpha;        // non-zero: alpha wanted as a separate line
};
