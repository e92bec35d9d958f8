// info_access.h - the protected file-information members of TDib, for the library's own
// callers and tests.
#pragma once

#include <dib/FileInfo.h>
#include <dib/TDib.h>

namespace dib {

struct FileInfoAccess {
    static int InfoByRExml(const wchar_t* xml, CFILEINFO* info)
    {
        return TDib::_infoByRExml(xml, info);
    }
};

} // namespace dib
