// tal_vimage.h - one-band 8-bit images of Code 128 and QR symbols.
//
// A TalVImage holds width x height bytes, rows top to bottom, one byte per pixel: 0 for a dark
// module, 255 for a light one. Symbols are drawn one pixel per module, with no quiet zone and no
// human-readable text; placing, scaling and margins are the caller's business.
//
// Failures never throw: an operation that fails leaves an empty image (0 x 0) whose LastError()
// and ErrorText() say why.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct zint_symbol;

enum class TalVError {
    None,
    InvalidInput,  // no text, text the symbology cannot carry, or too much of it
    InvalidOption, // an integer parameter outside its range, or a mode that is not "t"
    NoMemory,
    Failed, // anything else (the symbol library's internal errors, an empty source)
};

class TalVImage {
public:
    // An empty image.
    TalVImage();
    // A named image in the given mode. Only "t" (a temporary image held in memory) exists;
    // any other mode gives an image that refuses write (InvalidOption). name is kept for
    // messages (null: "").
    TalVImage(const char* name, const char* mode);
    TalVImage(const TalVImage& other);
    TalVImage& operator=(const TalVImage& other);
    ~TalVImage();

    // A QR code of text (UTF-8, null-terminated). level: error correction, 0 for the default M
    // (about 15% of the symbol recoverable, what product and shipping labels use), 1 L, 2 M,
    // 3 Q, 4 H. version: 0 for the smallest symbol that holds the text, 1 to 40 for at least that
    // version. ASCII text is encoded as is; any other text is marked as UTF-8 (ECI 26), so that
    // readers give back exactly the characters given. Invalid UTF-8 and text over the symbol's
    // capacity give InvalidInput.
    static TalVImage talQR(const char* text, int level, int version);
    // A Code 128 barcode of text (UTF-8, null-terminated). Code 128 carries the characters
    // U+0001 to U+00FF (those above U+007F through its FNC4 shift); anything else, empty text
    // and text longer than the symbology allows give InvalidInput. height: bar height in
    // pixels, 0 for 50; at most 1000. reserved1 and reserved2 must be 0.
    static TalVImage talCode128(const char* text, int height, int reserved1, int reserved2);

    // Makes this image a copy of source's pixels. 0 on success, -1 on failure (this image is
    // then unchanged; see LastError): a mode other than "t", an empty source, no memory.
    int write(const TalVImage& source);

    // Copies the pixels into buffer. With a null buffer, returns the byte count the copy needs
    // (width x height). Otherwise size must be at least width x height: the pixels are copied
    // and their count returned; a smaller size copies nothing and gives -1.
    std::int64_t copy2mem(char* buffer, std::uint64_t size) const;

    int width() const { return m_width; }
    int height() const { return m_height; }
    // The byte at (x, y); 255 outside the image.
    unsigned char pixel(int x, int y) const;

    TalVError LastError() const { return m_error; }
    // A one-line description of the last failure ("" when none).
    const char* ErrorText() const { return m_errorText; }

private:
    static TalVImage Failure(TalVError error, const char* text);
    void SetError(TalVError error, const char* text);
    // Encodes text with the symbology and options already set on symbol and draws it.
    static TalVImage Draw(zint_symbol* symbol, const char* text, std::size_t length);

    std::string m_name;
    bool m_writable = false;
    int m_width = 0;
    int m_height = 0;
    std::vector<unsigned char> m_pixels;
    TalVError m_error = TalVError::None;
    char m_errorText[128] = {};
};
