// status.cpp - the per-thread failure text behind the status codes.
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
