// The library's version string, exported for hosts and dibtool.
#include "dib_config.h"

#include <dib/Version.h>

extern "C" const char* dib_version()
{
    return DIB_VERSION_STRING;
}
