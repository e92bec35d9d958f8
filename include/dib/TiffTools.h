// TiffTools.h - CTIFTools: direct access to TIFF files without a TDib. An object keeps one file
// open and reads raw scan lines; static queries answer header values, inks and separations,
// creation date and software, a multichannel test and the repeat record of private tag 33333;
// ObrirDinamic hands a window of the image to a line consumer, one line at a time.
//
// Files are read through the library's own byte sources (never memory mapped; a FIFO or device
// never blocks an open). libtiff's messages are discarded; the last error text
// (DibGetLastErrorText) says why a call failed.
//
// Threads: an object belongs to one thread; the static members share no state.
#pragma once

#include <cstdint>
#include <dib/Export.h>
#include <dib/outside/raster/file_info.h>
#include <dib/outside/win/afx.h>

class TProcesLiniaDIB;
class TIndicadorEstat;
class TDib;

// What GetHeaderSelectionValues read. The caller provides the record; the flags say which
// fields were filled (the bits below, OR-ed in: fields whose bit is clear are left untouched).
// The pointers are malloc'ed copies owned by the record's owner: free them with free(), or call
// Release().
class DIB_API CTiffHeaderSelection {
public:
    enum : std::uint32_t {
        kWidth = 0x1,
        kLength = 0x2,
        kBitsPerSample = 0x4,
        kPhotometric = 0x8,
        kOrientation = 0x10,
        kSamplesPerPixel = 0x20,
        kPlanarConfig = 0x40,
        kXResolution = 0x80,
        kYResolution = 0x100,
        kXPosition = 0x200,
        kYPosition = 0x400,
        kResolutionUnit = 0x800,
        kCompression = 0x1000,
        kICCProfile = 0x2000,
        kInkSet = 0x4000,
        kInkNames = 0x8000,
        kNumberOfInks = 0x10000,
        kDocumentName = 0x20000,
        kDateTime = 0x40000,
        kModel = 0x80000,
        kCopyright = 0x100000,
        kSoftware = 0x200000,
        kPhotoshop = 0x400000,
    };

    std::uint32_t flags = 0;
    std::uint32_t imageWidth = 0;
    std::uint32_t imageLength = 0;
    std::uint16_t bitsPerSample = 0;
    std::uint16_t photometric = 0;
    std::uint16_t orientation = 0;
    std::uint16_t samplesPerPixel = 0;
    std::uint16_t planarConfig = 0;
    float xResolution = 0.0f;
    float yResolution = 0.0f;
    float xPosition = 0.0f;
    float yPosition = 0.0f;
    std::uint16_t resolutionUnit = 0;
    std::uint16_t compression = 0;
    // The profile states its own size in its first four bytes (big-endian); it is only taken
    // when that size fits the bytes the tag holds.
    unsigned char* iccProfile = nullptr;
    std::uint16_t inkSet = 0;
    std::uint16_t numberOfInks = 0;
    // numberOfInks NUL-terminated names, inkNamesSize bytes in all.
    char* inkNames = nullptr;
    char* documentName = nullptr;
    char* dateTime = nullptr;
    char* model = nullptr;
    char* copyright = nullptr;
    char* software = nullptr;
    unsigned char* photoshop = nullptr;
    std::uint32_t photoshopSize = 0;
    // Bytes of inkNames; 0 when a separated file has no ink names.
    std::uint32_t inkNamesSize = 0;

    // Frees every copy and nulls its pointer (flags and the other fields stay).
    void Release();
};

// The repeat record of private tag 33333: its 16 bytes as stored.
struct DIB_API _VelanTIFFInfo {
    std::uint8_t head[4];   // bytes 0 to 3
    std::uint8_t middle[8]; // bytes 4 to 11
    std::uint8_t tail[4];   // bytes 12 to 15
};

class DIB_API CTIFTools {
public:
    // Closed: empty path and mode, no file.
    CTIFTools();
    // A copy of an open object opens the same path with the same mode on a handle of its own
    // (when that fails the copy is closed, with the path and mode copied); a copy of a closed
    // object is closed. Each object closes only its own handle.
    CTIFTools(const CTIFTools& other);
    CTIFTools& operator=(const CTIFTools& other);
    // DeleteContents.
    virtual ~CTIFTools();

    // Closes any open file, then opens path with mode (libtiff's letters; it must begin with
    // 'r': files are only read here; "rm" as usual). 0 opened, path and mode kept; -3 not
    // opened (null arguments, a write mode, a file libtiff refuses): the handle is null and the
    // path and mode of an earlier file stay.
    int OpenTiff(const wchar_t* path, const wchar_t* mode);
    // Reads scan line row of sample plane sample (-1: plane 0) into buffer, which must hold
    // ScanlineSize() bytes. 0 read; -3 no open file, a null buffer, or libtiff refused (a row
    // or plane outside the image, a tiled file, a decoding error).
    int ReadTIFLine(unsigned int row, unsigned char* buffer, int sample);
    // Bytes ReadTIFLine writes for one row of the open file; 0 without one.
    std::uint64_t ScanlineSize() const;
    // Closes the file if one is open; always 0. Path and mode stay.
    int CloseTIF();
    // Empties path and mode and closes the file.
    void DeleteContents();
    // Non-zero while a file is open.
    int GetStatus() const;
    const CString& GetPath() const { return m_path; }
    const CString& GetMode() const { return m_mode; }

    // ---- static queries (paths are wide strings) ---------------------------------------------

    // Fills header with the header values of path (see CTiffHeaderSelection). Always 0. A file
    // that does not open leaves the record untouched. XResolution or YResolution not above 0,
    // not finite or above 1e6 sets both to 72, the unit to 2 (inch) and flags 0x980. A file that
    // is not separated (photometric 5) and has no InkNames stops after NumberOfInks: the names,
    // the texts and the Photoshop block stay unset. Copies that cannot be allocated leave their
    // bit clear.
    static int GetHeaderSelectionValues(const wchar_t* path, CTiffHeaderSelection& header);
    // Fills width, height, bits per pixel (SamplesPerPixel x BitsPerSample), view perspective 1,
    // format 3 and whole resolutions: a resolution tag above 0 is cut to a whole number (unit 3,
    // centimetre: times 2.54, rounded); a missing, NaN or unrepresentable one counts as 0, and
    // a result below 1 becomes 72. Other fields are left alone. 1 filled; 0 the file does not
    // open or info is null.
    static int GetInfoFitxer(const wchar_t* path, _FILEINFO* info);
    // 1 for a multichannel separated file: not Adobe Deflate, 8 or 1 bits, photometric 5, and
    // SamplesPerPixel less the channels named in the Photoshop block (when that leaves some)
    // above 0 and not the plain CMYK case (InkSet 1, absent counting as 1, with 4). Else 0.
    static int _VerifyTiffMultiChannelInfo(const wchar_t* path);
    // NumberOfInks when SamplesPerPixel is present and InkSet is present and 1; else 0.
    static int GetNumberOfChannels(const wchar_t* path);
    // Copies the ink names (NUL-terminated, in file order) into buffer when GetNumberOfChannels
    // is above 0 and the file has InkNames: 1. The copy is cut to whole names that fit in size
    // bytes and always ends with a NUL (size 0 or a null buffer: nothing copied, 0). 0 when
    // there are no names or the file does not open. The last argument is not read.
    static int GetSeparationList(const wchar_t* path, unsigned char* buffer, unsigned long size,
                                 int unused);
    // DateTime into dateTime and Software into software (a missing tag: empty; UTF-8 text, or
    // Latin-1 when it is not UTF-8). 1 read; 0 the file does not open (strings untouched).
    static int GetCreationDateTimeAndSoftware(const wchar_t* path, CString& dateTime,
                                              CString& software);
    // 1 when tag 33333 holds exactly 16 one-byte values; the record (may be null) receives
    // them. 0 otherwise, the record untouched.
    static int GetStorkRapport(const wchar_t* path, _VelanTIFFInfo* info);

    // Windowed line-by-line read. bitsPerPixel 0 takes the file's (SamplesPerPixel x
    // BitsPerSample). The window (inclusive; null: the whole image) is clipped to the image
    // before Init and the region Init returns is clipped again. processor (may be null) gets
    // Init(window width, window height, window); a negative answer is returned at once, any
    // other goes on. With readLines non-zero and bitsPerPixel 8 or more the window's rows are
    // delivered top to bottom: each line holds the window's columns from its left column, at
    // bitsPerPixel / 8 bytes per pixel: the first samples of each source pixel (RGB with four
    // or more samples: its first three), red and blue exchanged for RGB files, 16-bit samples
    // as native words when bitsPerPixel is the file's own depth and as their high bytes when it
    // is 8 bits per kept sample; separate planes are interleaved. Processar answering 0 ends
    // the read (success). Progress: every 10th row the position moves through the indicator's
    // range and a stop request cancels.
    // Results: Done's result (0 without a processor) on success; Init's negative answer; -3 a
    // window that misses the image (Init not called); -5 cancelled; -3006 the file does not
    // open or is no TIFF (Init not called); -3007 a row could not be read (Done not called);
    // -3016 a layout the read does not convert (bits other than 8 and 16, floating point
    // samples, fewer source bytes per pixel than asked, bitsPerPixel not a multiple of 8 or
    // above 64); -3001 no memory.
    static int ObrirDinamic(const wchar_t* path, TProcesLiniaDIB* processor, int bitsPerPixel,
                            TIndicadorEstat* progress, CRect* window, int readLines);

    // PhotometricInterpretation of path; 0 when the file does not open or has none.
    static int GetEspaiTiff(const wchar_t* path);
    // TDib::TamanyLinia.
    static unsigned long TamanyLinia(int width, int bitsPerPixel, int alignment);
    // The budgeted and boxed file previews of TDib (TDib::GetPreview), without a description.
    static int GetPreview(const wchar_t* path, int sizeKB, TDib*& preview,
                          TIndicadorEstat* progress);
    static int GetPreview(const wchar_t* path, int width, int height, unsigned long background,
                          TDib*& preview, TIndicadorEstat* progress);

protected:
    // 1 for the kernel's TIFF format numbers (3, 11, 17, 22, 24, 85, 86, 87, 88); else 0.
    static int _esTIFF(int format);
    // The windowed reader of ObrirDinamic: delivers the rows of window (null: every row) to
    // processor without calling Init or Done. 1 read (or stopped by the processor); -100
    // cancelled; -6 not opened; -7 a row could not be read; -16 layout not converted; -1 no
    // memory; -3 a window outside the image. The int arguments marked unused are not read.
    static int _loadTiff(const wchar_t* path, int bitsPerPixel, int unused,
                         TProcesLiniaDIB* processor, TIndicadorEstat* progress, CRect* window,
                         int unused2);

private:
    struct OpenFile;
    CString m_path;
    CString m_mode;
    OpenFile* m_file = nullptr;
};
