// status.cpp - the meaning of the status codes and the per-thread failure text behind them.
#include <core/last_error.h>
#include <dib/Status.h>

extern "C" const char* DibGetLastErrorText()
{
    return core::GetLastErrorText();
}

extern "C" void DibClearLastErrorText()
{
    core::ClearLastErrorText();
}

extern "C" const char* DibStatusText(int status)
{
    switch (status) {
    case DIB_OK:
        return "success";
    case DIB_ERR_NO_MEMORY:
        return "out of memory, or a module resource failed to load";
    case DIB_ERR_UNSUPPORTED:
        return "input of an unsupported kind";
    case DIB_ERR_INVALID:
        return "invalid argument or unrecognised data";
    case DIB_ERR_FAILED:
        return "failed or cancelled";
    case DIB_ERR_READ:
        return "a record could not be read";
    case DIB_ERR_WRITE:
        return "a record could not be written";
    case DIB_ERR_BAD_MAGIC:
        return "a stream record has the wrong magic";
    case DIB_ERR_NO_RESOURCE:
        return "module resource not found";
    default:
        break;
    }
    // Kernel and reader codes run from -1 downwards.
    if (status < DIB_STATUS_KERNEL_BASE)
        return "refused by the raster kernel or a file reader";
    return "unknown status";
}
