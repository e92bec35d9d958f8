// jpeg_markers.cpp - ICC profiles in APP2 markers: keep, join, split.
#include "jpeg_icc.h"

#include <array>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int kIccMarker = JPEG_APP0 + 2;
constexpr unsigned kOverhead = 14;                  // "ICC_PROFILE\0", sequence, count
constexpr unsigned kMaxPayload = 65533 - kOverhead; // 65519: a marker holds 65533 data bytes
constexpr unsigned kMaxMarkers = 255;
constexpr char kIdentifier[12] = "ICC_PROFILE"; // with its terminating zero: 12 bytes

bool IsIccMarker(const jpeg_marker_struct* m)
{
    return m->marker == kIccMarker && m->data_length >= kOverhead &&
           std::memcmp(m->data, kIdentifier, sizeof kIdentifier) == 0;
}

} // namespace

void _prepareICCJPEG(j_decompress_ptr cinfo)
{
    jpeg_save_markers(cinfo, kIccMarker, 0xFFFF);
}

bool _readICCJPEG(j_decompress_ptr cinfo, JOCTET** profile, unsigned int* length)
{
    if (profile)
        *profile = nullptr;
    if (length)
        *length = 0;
    if (!cinfo || !profile || !length || !cinfo->marker_list)
        return false;

    std::array<bool, kMaxMarkers + 1> seen{};
    std::array<unsigned, kMaxMarkers + 1> payload{};
    std::array<unsigned, kMaxMarkers + 1> offset{};
    unsigned count = 0;
    for (const jpeg_marker_struct* m = cinfo->marker_list; m; m = m->next) {
        if (!IsIccMarker(m))
            continue;
        const unsigned sequence = m->data[12];
        const unsigned markers = m->data[13];
        if (count == 0)
            count = markers;
        else if (markers != count)
            return false;
        if (sequence == 0 || sequence > count || seen[sequence])
            return false;
        seen[sequence] = true;
        payload[sequence] = m->data_length - kOverhead;
    }
    if (count == 0)
        return false;
    std::uint64_t total = 0;
    for (unsigned s = 1; s <= count; ++s) {
        if (!seen[s])
            return false;
        offset[s] = unsigned(total);
        total += payload[s];
    }
    // At most 255 x 65521 bytes: no overflow of the unsigned length.
    if (total == 0)
        return false;
    auto* out = static_cast<JOCTET*>(std::malloc(total));
    if (!out)
        return false;
    for (const jpeg_marker_struct* m = cinfo->marker_list; m; m = m->next) {
        if (!IsIccMarker(m))
            continue;
        const unsigned sequence = m->data[12];
        std::memcpy(out + offset[sequence], m->data + kOverhead, payload[sequence]);
    }
    *profile = out;
    *length = unsigned(total);
    return true;
}

void _writeICCJPEG(j_compress_ptr cinfo, const JOCTET* profile, unsigned int length)
{
    if (!cinfo || !profile || length == 0)
        return;
    const std::uint64_t needed = (std::uint64_t(length) + kMaxPayload - 1) / kMaxPayload;
    if (needed > kMaxMarkers)
        return;
    const unsigned markers = unsigned(needed);
    unsigned remaining = length;
    for (unsigned sequence = 1; remaining > 0; ++sequence) {
        const unsigned n = remaining < kMaxPayload ? remaining : kMaxPayload;
        jpeg_write_m_header(cinfo, kIccMarker, n + kOverhead);
        for (const char ch : kIdentifier)
            jpeg_write_m_byte(cinfo, ch);
        jpeg_write_m_byte(cinfo, int(sequence));
        jpeg_write_m_byte(cinfo, int(markers));
        for (unsigned i = 0; i < n; ++i)
            jpeg_write_m_byte(cinfo, *profile++);
        remaining -= n;
    }
}
