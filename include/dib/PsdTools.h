// PsdTools.h - the library's own reader of Photoshop documents ("8BPS"): file header, image
// resources and the flattened composite image as a 24-bit DIB section.
//
// A document has five sections, read in file order: the header, the colour mode data, the image
// resources, the layer and mask information (skipped) and the image data (the composite).
// Load reads all five; LoadHeaders stops after the image resources. Every number in the file is
// big-endian. Version-2 headers are accepted but every section is read with the version-1 field
// widths.
//
// Status results of Load and LoadHeaders:
//    0  success. Load may succeed without a bitmap (Detach then returns null): the file ends
//       before the image data; raw data that is short or in a mode not read raw (bitmap,
//       multichannel, unassigned modes; RGB or Lab without exactly 3 channels; CMYK without
//       exactly 4); a document with no channel.
//   -1  the file cannot be opened
//   -2  the file header is short or invalid (signature, version 1 or 2, reserved bytes)
//   -3  the colour mode data cannot be held: its length runs past the end of the file, or the
//       allocation failed
//   -4  the image resources section is invalid or unreadable (ends before its declared length)
//   -6  the image data cannot be read: a failure was raised, or the PackBits data declared by
//       the header (row-length table plus the least bytes that can encode every channel) does
//       not fit in the bytes left in the file, or its size overflows
//   -7  depth 1 is not supported (Load only)
//   -8  a depth other than 1, 8 and 16 is not supported (Load only)
//   -9  the DIB section cannot be created (empty or negative size, more than 2^31 - 1 bytes)
//  -10  compression 2 (zip without prediction) is not supported
//  -11  compression 3 (zip with prediction) is not supported
//  -12  any other compression code
//
// The composite is always a bottom-up 24-bit DIB section whose resolution comes from image
// resource 1005 (integer dots per inch x 10000 / 254, unit fields ignored; 3780 pixels per metre
// without it). Colour modes: greyscale and duotone draw the first channel as grey; indexed
// draws through the 768-byte colour mode data (when resource 1046 is present it must hold a
// count of at least 1, else the picture stays white); RGB, CMYK and Lab draw their colour
// channels (Lab through D65 XYZ to sRGB); multichannel (PackBits only) draws the first three
// or four channels as CMY(K); bitmap-mode documents at depth 8 or 16 and unassigned modes (PackBits
// only) give a white picture. 16-bit samples draw by their high byte (RGB, greyscale) or through
// the full value (CMYK, Lab). Channels beyond the colour channels are ignored.
//
// Threads: an object is used by one thread at a time; distinct objects are independent.
#pragma once

#include <cstdint>
#include <cstdio>
#include <dib/Export.h>
#include <dib/outside/win/afx.h>
#include <dib/outside/win/windef.h>

class DIB_API CPSDTools {
public:
    // The file header's five variable fields; all -1 until a header was read.
    class DIB_API HEADER_INFO {
    public:
        std::int16_t channels = -1;
        std::int32_t height = -1; // rows
        std::int32_t width = -1;  // columns
        std::int16_t depth = -1;  // bits per channel
        std::int16_t mode = -1;   // colour mode
    };

    // The colour mode data section: length (< 1 means empty) and the owned bytes (new[]).
    class DIB_API COLOUR_MODE_DATA {
    public:
        COLOUR_MODE_DATA() = default;
        ~COLOUR_MODE_DATA();
        COLOUR_MODE_DATA(const COLOUR_MODE_DATA&) = delete;
        COLOUR_MODE_DATA& operator=(const COLOUR_MODE_DATA&) = delete;
        // Frees the bytes; the length is kept.
        void Release();

        int length = -1;
        unsigned char* data = nullptr;
    };

    // One 14-byte display record of image resource 1007.
    struct DIB_API DISPLAY_INFO {
        std::uint16_t colourSpace = 0xFFFF;
        std::uint16_t colour[4] = {0, 0, 0, 0};
        std::uint16_t opacity = 0xFFFF;
        std::uint8_t kind = 0; // 1 when the file's byte is non-zero
        std::uint8_t padding = 0x30;
        bool operator==(const DISPLAY_INFO&) const = default;
    };

    // The header of the resource block being read. Copying duplicates the name; moving hands
    // it over and leaves the source's name null: a name array is never owned twice.
    class DIB_API IMAGE_RESOURCE {
    public:
        IMAGE_RESOURCE() { Reset(); }
        ~IMAGE_RESOURCE();
        IMAGE_RESOURCE(const IMAGE_RESOURCE& other);
        IMAGE_RESOURCE(IMAGE_RESOURCE&& other) noexcept;
        // Copy: a new name array (throws CMemoryException* when it cannot be made, leaving
        // this object unchanged).
        IMAGE_RESOURCE& operator=(const IMAGE_RESOURCE& other);
        IMAGE_RESOURCE& operator=(IMAGE_RESOURCE&& other) noexcept;
        // Length and size -1, signature four zero bytes, identifier 0xFFFF, no name.
        void Reset();
        // Replaces the name with a copy of count bytes (count 0: no name).
        void SetName(const unsigned char* bytes, int count);
        int NameLength() const { return nameLength; }

        int length;        // the section's length while its first block is read, else -1
        char signature[4]; // "8BIM" for a valid block
        std::uint16_t identifier;
        unsigned char* name = nullptr; // owned (new[]), nameLength bytes, or null
        int size;                      // the block's data size rounded up to even

    private:
        int nameLength = 0;
    };

    CPSDTools();
    // DeleteContents, then both lists are emptied.
    ~CPSDTools();
    CPSDTools(const CPSDTools&) = delete;

    // Copies the display info, the display info list, the display-info-read flag, the
    // thumbnail header and data (a new malloc block), the two thumbnail flags and the alpha
    // channel names. Every other member (bitmap, header, ICC profile, ...) keeps its value.
    // Self-assignment does nothing. Throws CMemoryException* when memory runs out.
    CPSDTools& operator=(const CPSDTools& other);

    // Releases the bitmap (unless detached), the colour mode data, the current resource's
    // name, the thumbnail data and the ICC profile; clears the flags, puts the global angle back
    // to 30, colour count and transparent index to -1, the display info and the thumbnail
    // header to their initial values and empties both lists. The header, the colour mode data
    // length and the resolution values are left as they are.
    void DeleteContents();

    // Reads the whole document (statuses above). An object is loaded once: call
    // DeleteContents before loading another file with it (a bitmap left from an earlier load
    // is released when a new one is made).
    int Load(const wchar_t* path);
    // Reads the header, the colour mode data and the image resources: 0, -1, -2, -3 or -4.
    int LoadHeaders(const wchar_t* path);
    // The composite (may be null); the caller owns it from now on and frees it with
    // DeleteObject. A second call returns the same handle until DeleteContents.
    HBITMAP Detach();

    // The header's depth: bits per channel.
    int BitsPerPixel() const;
    void Dimensions(int& width, int& height) const;
    // The integer horizontal and vertical resolutions of resource 1005 as read (units not
    // applied); -1 and -1 when no such resource was read since construction.
    void DPI(double& x, double& y) const;
    // Resource 1037; 30 without it.
    int GlobalAngle() const;
    // Resource 1034.
    bool IsCopyright() const;
    // A thumbnail resource (1033 or 1036) was found.
    bool ThumbNailIncluded() const;

    // Reads size bytes of resource blocks from memory (no leading section length), as a TIFF
    // embeds them. Interprets 1000, 1005, 1006 (alpha channel names, appended), 1007 (every
    // record appended to the display info list), 1033, 1034, 1036, 1037, 1046 and 1047; a
    // field that runs past its block or the buffer is not read. True when exactly size bytes
    // were walked (also for size 0). Throws CMemoryException* when a list node cannot be made.
    bool ReadImageResource(unsigned char* data, unsigned long size);

    // The embedded ICC profile (resource 1039) of the document at path, without reading
    // anything past the resources. buffer null: returns the bytes a caller must provide (the
    // block's data size rounded up to even). Otherwise buffer must hold at least that many
    // bytes; it is filled and the same number returned. 0 when the file cannot be opened, is
    // no valid document, holds no profile, or the profile cannot be read completely.
    static unsigned long _GetEmbededICC(const wchar_t* path, void* buffer);

    // Read-only views for callers that want the gathered metadata.
    const CList<DISPLAY_INFO>& DisplayInfoList() const { return m_displayInfoList; }
    const CList<CString>& AlphaChannelNames() const { return m_alphaNames; }
    const HEADER_INFO& Header() const { return m_header; }
    const unsigned char* ICCProfile(int& size) const
    {
        size = m_iccSize;
        return m_icc;
    }

protected:
    // Memory counterpart of fread: copies up to count elements of elementSize bytes from
    // *cursor, stopping when fewer than elementSize bytes remain; advances *cursor, lowers
    // remaining, adds the bytes copied to consumed; returns the elements copied.
    int sread(void* destination, unsigned long elementSize, int count, unsigned char** cursor,
              unsigned long& remaining, int& consumed);
    // Non-zero when remaining is 0.
    int seof(unsigned long& remaining);
    // Scans the resources section at the file's position for resource 1039. Found: size is
    // set (buffer null: the rounded data size; else the data is read into buffer and size is
    // that size, or 0 on a short read) and 1 is returned. Not found: 1 when the section was
    // walked to its exact end, 0 otherwise; size untouched.
    int readImageResourceICCProfile(FILE* file, IMAGE_RESOURCE& resource, unsigned char* buffer,
                                    unsigned long& size);
    // Opens path and runs the header, colour mode data and ICC scan (see _GetEmbededICC).
    unsigned long getEmbededICC(const wchar_t* path, void* buffer);

private:
    struct ResolutionInfo {
        std::int16_t hRes = -1;
        std::int32_t hResUnit = -1;
        std::int16_t widthUnit = -1;
        std::int16_t vRes = -1;
        std::int32_t vResUnit = -1;
        std::int16_t heightUnit = -1;
    };
    struct VersionInfo {
        std::int16_t channels = -1, rows = -1, columns = -1, depth = -1, mode = -1;
    };
    struct ThumbnailHeader {
        std::int32_t format = -1, width = -1, height = -1, widthBytes = -1, totalSize = -1,
                     compressedSize = -1;
        std::int16_t bitsPerPixel = -1, planes = -1;
    };
    struct Reader;
    friend struct Reader;

    int ReadHeader(FILE* file);
    int ReadColourModeData(FILE* file);
    bool ReadImageResource(FILE* file, IMAGE_RESOURCE& resource);
    bool ReadLayerAndMaskInfoSection(FILE* file);
    int ReadImageData(FILE* file);
    // Interprets one block's data (bounded to its bytes); bufferForm selects the buffer
    // form's set of resources and its handling of 1006 and 1007.
    void InterpretResource(std::uint16_t id, const unsigned char* data, std::uint64_t size,
                           std::uint64_t blockSize, bool bufferForm);
    void SetBitmap(HBITMAP bitmap);
    void ReleaseThumbnail();
    void ReleaseICC();

    HBITMAP m_bitmap = nullptr;
    bool m_detached = false;
    HEADER_INFO m_header;
    COLOUR_MODE_DATA m_colourModeData;
    std::int16_t m_colourCount = -1;
    bool m_colourCountRead = false; // resource 1046 was found
    std::int16_t m_transparentIndex = -1;
    IMAGE_RESOURCE m_resource;
    int m_globalAngle = 30;
    ResolutionInfo m_resolution;
    bool m_resolutionRead = false;
    VersionInfo m_versionInfo;
    bool m_versionInfoRead = false;
    DISPLAY_INFO m_displayInfo;
    CList<DISPLAY_INFO> m_displayInfoList{10};
    bool m_displayInfoRead = false;
    ThumbnailHeader m_thumbnailHeader;
    unsigned char* m_thumbnail = nullptr; // malloc
    std::uint64_t m_thumbnailSize = 0;    // bytes held in m_thumbnail
    bool m_thumbnailNewFormat = true;
    bool m_thumbnailIncluded = false;
    CList<CString> m_alphaNames{10};
    bool m_copyright = false;
    unsigned char* m_icc = nullptr; // malloc
    int m_iccSize = 0;
};
