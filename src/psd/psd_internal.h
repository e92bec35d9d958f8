// psd_internal.h - pieces of the Photoshop document reader shared by its sources and tests:
// big-endian fields, file positions, the channel plane readers and the colour conversions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

namespace dib::psd {

// ---- big-endian fields ----------------------------------------------------------------------

// The big-endian value of the first count bytes (0 when count < 1; at most 4 bytes count).
unsigned long Calculate(const unsigned char* bytes, int count);

inline std::uint16_t Be16(const unsigned char* p)
{
    return std::uint16_t((unsigned(p[0]) << 8) | p[1]);
}
inline std::uint32_t Be32(const unsigned char* p)
{
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           p[3];
}

// Reads fields from a bounded byte range; a field that does not fit is not read (false) and
// the cursor stays where it is.
class FieldCursor {
public:
    FieldCursor(const unsigned char* data, std::uint64_t size) : p_(data), left_(size) {}
    bool U8(std::uint8_t& v);
    bool U16(std::uint16_t& v);
    bool I16(std::int16_t& v);
    bool I32(std::int32_t& v);
    bool Bytes(const unsigned char*& p, std::uint64_t count);
    std::uint64_t Left() const { return left_; }

private:
    const unsigned char* p_;
    std::uint64_t left_;
};

// ---- file positions -------------------------------------------------------------------------

// The file's size in bytes (its position is kept); false when it cannot be measured.
bool FileSize(FILE* file, std::uint64_t& size);
// The current position; 0 when it cannot be told.
std::uint64_t Tell(FILE* file);
// Positions the file at offset from the start; false on failure.
bool SeekTo(FILE* file, std::uint64_t offset);
// No byte left at the current position (also when the size cannot be measured).
bool AtEnd(FILE* file);
// No byte left at the current position of a file of the given size.
inline bool AtEnd(FILE* file, std::uint64_t size)
{
    return Tell(file) >= size;
}
// Reads exactly count bytes; false on a short read.
bool ReadExact(FILE* file, void* out, std::size_t count);

// ---- channel planes -------------------------------------------------------------------------

// Delivers one channel plane of the image data as a byte stream, row after row, through its own
// read buffer: raw bytes from start, or PackBits runs decoded from start. PackBits runs go on
// across row boundaries; a run that passes the end of the plane is cut there. Bytes that the
// file cannot supply (it ends) read as 0xFE.
class PlaneReader {
public:
    PlaneReader(FILE* file, std::uint64_t fileSize, std::uint64_t start, std::uint64_t planeBytes,
                bool packBits);
    // The next count bytes of the plane into out (null: discarded).
    void Read(unsigned char* out, std::size_t count);
    // File offset just after the last run this reader took in (a literal run counts whole even
    // when the plane ended inside it); the file size when the file ended first.
    std::uint64_t End() const { return end_; }

private:
    bool Fill();
    // The next input byte; false at the end of the file.
    bool Next(unsigned char& byte);

    FILE* file_;
    std::uint64_t fileSize_;
    std::uint64_t filePos_; // offset of the next byte to fetch into the buffer
    std::uint64_t end_;
    std::uint64_t left_; // plane bytes still to deliver
    bool packBits_;
    bool eof_ = false;
    std::vector<unsigned char> buffer_;
    std::size_t bufPos_ = 0;
    std::size_t bufLen_ = 0;
    // PackBits state: a literal run still being copied, or a repeated byte still owed.
    enum class Run { None, Literal, Repeat } run_ = Run::None;
    std::uint32_t runLeft_ = 0;
    unsigned char runValue_ = 0;
};

// ---- colour conversions (results truncated toward zero, not clamped) -------------------------

// r = (1 - ((1 - black) * cyan + black)) * 255, likewise g and b with magenta and yellow.
void CMYKToRGB(double cyan, double magenta, double yellow, double black, int& r, int& g, int& b);
// CIE L*a*b* (D65) to XYZ, then XYZToRGB.
void LabToRGB(int L, int a, int b, int& r, int& g, int& bl);
// XYZ (0..100 scale) to sRGB components scaled by 256 (255.x becomes 255 only when clamped).
void XYZToRGB(double X, double Y, double Z, int& r, int& g, int& b);

inline unsigned char Clamp255(int v)
{
    return static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
}

} // namespace dib::psd
