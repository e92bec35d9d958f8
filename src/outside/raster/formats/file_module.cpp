// file_module.cpp - the file module's dispatch.
//
// Placeholder until the format codecs arrive: every file is unknown and nothing is written.
#include "../file_module.h"

#include <atomic>

namespace {
std::atomic<int> g_pcdResolution{2};
} // namespace

const char* RkFormatName(int)
{
    return nullptr;
}
int RkFormatCanRead(int)
{
    return 0;
}
int RkFormatCanWrite(int)
{
    return 0;
}

int RkFileInfo(const char*, _FILEINFO*, std::uint32_t)
{
    return RK_ERROR_FILE_FORMAT;
}
int RkFileInfoMemory(const void*, std::uint64_t, _FILEINFO*, std::uint32_t)
{
    return RK_ERROR_FILE_FORMAT;
}
int RkLoadFile(const char*, _BITMAPHANDLE*, std::uint32_t, int, int, std::uint32_t, _FILEINFO*)
{
    return RK_ERROR_FILE_FORMAT;
}
int RkLoadMemory(const void*, std::uint64_t, _BITMAPHANDLE*, std::uint32_t, int, int, _FILEINFO*)
{
    return RK_ERROR_FILE_FORMAT;
}
int RkLoadFileCallback(const char*, _BITMAPHANDLE*, std::uint32_t, int, int, std::uint32_t,
                       RkLoadRowsCallback, void*, _FILEINFO*)
{
    return RK_ERROR_FILE_FORMAT;
}
int RkSaveFile(const char*, const _BITMAPHANDLE*, int, int, int, std::uint32_t)
{
    return RK_ERROR_FORMAT_UNSUPPORTED;
}
int RkSaveFileCallback(const char*, _BITMAPHANDLE*, int, int, int, std::uint32_t,
                       RkSaveRowsCallback, void*)
{
    return RK_ERROR_FORMAT_UNSUPPORTED;
}
int RkSaveMemory(const _BITMAPHANDLE*, int, int, int, HGLOBAL*, std::uint64_t*)
{
    return RK_ERROR_FORMAT_UNSUPPORTED;
}
int RkSetPCDResolution(int resolution)
{
    if (resolution < 0 || resolution > 5)
        return RK_ERROR_INV_PARAMETER;
    g_pcdResolution = resolution;
    return RK_SUCCESS;
}
int RkGetPCDResolution()
{
    return g_pcdResolution;
}
int RkRegisterExternalReader(const RkExternalReader*)
{
    return RK_SUCCESS;
}
