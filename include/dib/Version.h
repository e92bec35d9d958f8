// Version.h - the library's version.
#pragma once

#include <dib/Export.h>

// "major.minor.patch" of the loaded libdib.so; a static string.
extern "C" DIB_API const char* dib_version();
