// last_error.cpp - per-thread failure text in a fixed buffer (no allocation, so it can be set
// on out-of-memory paths).
#include "last_error.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace core {
namespace {
thread_local char t_text[1024];
}

void SetLastErrorText(const char* text) noexcept
{
    if (!text) {
        t_text[0] = '\0';
        return;
    }
    std::snprintf(t_text, sizeof t_text, "%s", text);
}

void SetLastErrorTextF(const char* format, ...) noexcept
{
    if (!format) {
        t_text[0] = '\0';
        return;
    }
    va_list args;
    va_start(args, format);
    if (std::vsnprintf(t_text, sizeof t_text, format, args) < 0)
        t_text[0] = '\0';
    va_end(args);
}

const char* GetLastErrorText() noexcept
{
    return t_text;
}

void ClearLastErrorText() noexcept
{
    t_text[0] = '\0';
}

} // namespace core
