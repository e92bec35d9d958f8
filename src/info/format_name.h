// format_name.h - display names of kernel format numbers.
#pragma once

#include <dib/outside/win/afx.h>

namespace dib {

// The string-table name of a kernel format number: "TIFF", "JPEG YUV 4:4:4", ..., "JPEG" for
// the other JPEG-family numbers, and "Inconnue (n° <format>)" for numbers without a name.
CString FormatName(int format);

} // namespace dib
