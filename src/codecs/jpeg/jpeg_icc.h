// jpeg_icc.h - ICC profiles in JPEG APP2 markers.
//
// The profile is cut into APP2 markers whose data starts with "ICC_PROFILE", a zero byte, the
// marker's sequence number (1 based) and the marker count, followed by up to 65519 profile
// bytes (a marker holds at most 65533 data bytes).
#pragma once

#include <cstdio> // jpeglib.h needs FILE and size_t first
#include <jpeglib.h>

// Asks the decoder to keep APP2 markers (up to 65535 bytes each). cinfo has a source and its
// header is not read yet. May raise a libjpeg error through cinfo's error manager.
void _prepareICCJPEG(j_decompress_ptr cinfo);

// Joins the profile from the APP2 markers kept after _prepareICCJPEG and the header read.
// Only APP2 markers of at least 14 bytes that start with "ICC_PROFILE\0" count. Fails (false,
// *profile null, *length 0) when there is none, when markers disagree on the count, when a
// sequence number is 0, above the count, repeated or missing, when the total is 0 or when
// memory runs out; never a partial profile. On success *profile is a malloc block that the
// caller frees, joined in sequence order whatever the order in the file. Null arguments: false.
bool _readICCJPEG(j_decompress_ptr cinfo, JOCTET** profile, unsigned int* length);

// Writes profile into a JPEG being compressed (after jpeg_start_compress, before the first
// scan line) as ceil(length / 65519) APP2 markers, every one but the last full. Writes nothing
// for an empty or null profile, or for one that would need more than 255 markers (above
// 16 707 345 bytes), which the layout cannot number.
void _writeICCJPEG(j_compress_ptr cinfo, const JOCTET* profile, unsigned int length);
