// format_families.h - the kernel format numbers that choose the library's own readers.
#pragma once

namespace dib {

// Formats read by the own JPEG reader: 10, 98, 101, 391, 392, 393. The subsampled JPEG
// formats 21 and 23 are the kernel's.
constexpr bool IsJpegFamily(int format)
{
    switch (format) {
    case 10:
    case 98:
    case 101:
    case 391:
    case 392:
    case 393:
        return true;
    default:
        return false;
    }
}

// Formats read by the own TIFF reader: 3, 11, 17, 85 to 88, 96, 138 to 141, 176, 189, 394 to
// 396.
constexpr bool IsTiffFamily(int format)
{
    switch (format) {
    case 3:
    case 11:
    case 17:
    case 85:
    case 86:
    case 87:
    case 88:
    case 96:
    case 138:
    case 139:
    case 140:
    case 141:
    case 176:
    case 189:
    case 394:
    case 395:
    case 396:
        return true;
    default:
        return false;
    }
}

constexpr int kFormatPcx = 1;
constexpr int kFormatPhotoCd = 57;
constexpr int kFormatPng = 75;
constexpr int kFormatPsd = 76;

} // namespace dib
