// FileInfo.h - descriptions of image files without their pixels.
//
// CFILEINFO mirrors the raster kernel's _FILEINFO field for field (so a kernel record can be
// taken over whole and handed back to the kernel's loaders) and adds what the library's own
// readers and the engine description fill: colour space, channels, bits per channel, alpha
// channel, the engine's XML text and the tiled and indexed flags.
// CInfoFitxerDIB holds one CFILEINFO with a labelled, readable list of its values.
#pragma once

#include <cstdint>
#include <dib/ColourSpace.h>
#include <dib/Export.h>
#include <dib/outside/base/strings.h>
#include <dib/outside/raster/file_info.h>
#include <dib/outside/win/afx.h>

class DIB_API CFILEINFO {
public:
    // Every member at its reset value (below); the leading word is 0.
    CFILEINFO();
    // Takes over a kernel record (operator=(const _FILEINFO&)).
    CFILEINFO(const _FILEINFO& info);
    CFILEINFO(const CFILEINFO& other);
    ~CFILEINFO();

    // Format, sizes, depth, the 64-bit fields, the orientation fields, resolutions and the
    // kernel's colour fields 0; texts empty; the fifth of the five kernel ints 0xFFFFFF; alpha
    // channel -1; engine description empty; tiled and indexed 0. The two kernel blocks and the
    // leading word are left as they are.
    void Reset();
    // Copies every member except the leading word, the engine description included.
    CFILEINFO& operator=(const CFILEINFO& other);
    // Takes over a kernel record: every kernel field (resolutions as doubles), then the colour
    // space from the kernel's colour model, the format and the depth; channels 1 below 16 bits
    // per pixel, else bits / 8, bits per channel bits / channels; alpha channel -1, engine
    // description empty, tiled and indexed 0.
    CFILEINFO& operator=(const _FILEINFO& info);
    // Fills a kernel record: declared size 2320 and every kernel field, the resolutions rounded
    // to the nearest whole number (halves away from zero; clamped to the int range). The
    // library's own members are not passed. Null info: nothing.
    void Get(_FILEINFO* info) const;

    // ---- the kernel's fields, in the kernel record's order ----------------------------------
    std::uint32_t uStructSize = 0; // the kernel record's declared-size word: never copied
    std::int32_t Format;           // the kernel's file-format number
    char16_t Name[512];            // 1024 bytes, copied whole
    std::int32_t Width;
    std::int32_t Height;
    std::int32_t BitsPerPixel;
    std::int64_t FileBytes;
    std::int64_t DecodedBytes;
    char16_t Compression[20];     // e.g. u"Progressive JPEG"
    std::int32_t ViewPerspective; // 1 top-left
    std::int32_t Order;           // colour order of the decoded pixels
    std::int32_t PageNumber;
    std::int32_t PageCount;
    double XResolution; // dots per inch, 0 when the file gives none
    double YResolution;
    std::int32_t Misc[4];
    std::int32_t BackgroundColour;
    std::uint8_t Extension[1024];
    std::int64_t ExtensionBytes;
    std::int32_t ColourFlags;
    std::int32_t ColourModel; // 0 RGB, 2 CMYK, 3 CIELab
    std::int32_t SamplesPerPixel;
    std::int32_t ColourExtra;
    std::int64_t Offsets[2];
    std::int32_t Misc2[2];
    std::uint8_t Tail[64];
    std::int32_t Misc3[3];
    std::int64_t Misc64[3];
    std::int32_t Misc4;

    // ---- the library's fields ----------------------------------------------------------------
    std::uint32_t ColorSpace; // colour-space code (dib/ColourSpace.h)
    std::uint32_t Channels;
    std::uint32_t BitsPerChannel;
    std::int32_t AlphaChannel; // zero-based, -1 none
    CString EngineInfo;        // the raster engine's XML description, or empty
    std::int32_t Tiled;        // 1 when the image data is stored in tiles
    std::int32_t Indexed;      // 1 when pixel values are palette indexes
};

class DIB_API CInfoFitxerDIB {
public:
    // Empty name and lists, file information reset.
    CInfoFitxerDIB();
    CInfoFitxerDIB(const CInfoFitxerDIB& other);
    CInfoFitxerDIB& operator=(const CInfoFitxerDIB& other);
    ~CInfoFitxerDIB();

    // Appends label to the labels and value to the values (null: an empty string).
    void AfegirInfo(const wchar_t* label, const wchar_t* value);
    // The same with the label loaded from the string table by its id (empty when absent).
    void AfegirInfo(unsigned int labelId, const wchar_t* value);

    CString m_nomFormat;      // display name of the file's format
    CMultiString m_etiquetes; // label of each line
    CMultiString m_valors;    // value of each line, at its label's position
    CFILEINFO m_info;         // the record the lines were made from
};

// Channels of a colour-space code (dib/ColourSpace.h): 4 CMYK, 3 CIELab and RGB, 1 greyscale
// and monochrome, 0 for every other code (multi-channel and not set included).
DIB_API int GetDefaultChannels(unsigned long colourSpace);
