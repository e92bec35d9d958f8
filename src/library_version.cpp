// The library's version string, exported for hosts and dibtool.
#include <dib/Version.h>

#include "dib_config.h"

extern "C" const char* dib_version() { return DIB_VERSION_STRING; }
