// fault_injection.h - makes the stand-in's allocations fail on purpose, and counts what is
// alive, for tests of the code that calls them.
#pragma once

#include "../outside_api.h"

#include <cstddef>

// After this call, n further GlobalAlloc calls succeed and every later one fails (null) as if
// memory were exhausted. n = -1 (or any negative n) turns the failure off. Process-wide; the
// count is shared by all threads.
OUTSIDE_API void WinFailAllocationsAfter(long n);

// After this call, n further creations of GDI objects (bitmaps, brushes, palettes, device
// contexts, icons, and the bitmaps GetIconInfo hands out) succeed and every later one fails.
// n = -1 (or any negative n) turns the failure off.
OUTSIDE_API void WinFailGdiObjectsAfter(long n);

// Leak checks for tests: the number of live global memory blocks, and of live GDI objects
// (bitmaps, brushes, palettes, device contexts and icons, stock objects not counted).
OUTSIDE_API std::size_t WinLiveGlobalBlocks();
OUTSIDE_API std::size_t WinLiveGdiObjects();
