// acquire_internal.h - helpers shared by the scan routes of this folder.
#pragma once

#include "resources.h"

#include <dib/Acquire.h>
#include <dib/TDib.h>
#include <string>

namespace dib {

// Shows the message of a scanner result code in an error message box (string table ids 22029
// to 22040; unknown codes as 22040 with the code).
void MostrarErrorTwain(int code);
// The French text of a scanner result code.
std::wstring TextErrorTwain(int code);

// After a scan into image's bitmap: top-left rows, and resolution, colour space, channels,
// bits per channel and alpha channel from the bitmap.
void PrendreMembresEscaneig(TDib& image);

// Library status of a scanner code: 1 -> 0; -81 -> -1; -568 and -82 -> -3; others -5.
int StatusEscaneig(int code);

// Properties record of the library's scan settings (null: all the device's).
_LTWAINPROPERTIES PropietatsDe(const DIB_SCANSETTINGS* settings, bool fullDepth);

} // namespace dib
