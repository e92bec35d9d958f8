// fault_injection.h - makes the stand-in's allocations fail on purpose, for tests of the code
// that calls them.
#pragma once

#include <outside_api.h>

// After this call, n further GlobalAlloc calls succeed and every later one fails (null) as if
// memory were exhausted. n = -1 (or any negative n) turns the failure
// off. Process-wide; the count is shared by all threads.
OUTSIDE_API void WinFailAllocationsAfter(long n);
