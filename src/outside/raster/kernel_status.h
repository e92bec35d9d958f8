// kernel_status.h - the raster kernel's result codes.
//
// Every kernel operation returns an int: a value above 0 is success, 0 or below is failure.
// The negative codes are this table, and nothing else. RK_ERROR_CANCELLED is returned when the
// status callback (or a per-rows callback) asked the operation to stop.
#pragma once

#include "../outside_api.h"

constexpr int RK_SUCCESS = 1;
constexpr int RK_FAILURE = 0;              // failed, no more specific reason
constexpr int RK_ERROR_NO_MEMORY = -1;     // an allocation failed
constexpr int RK_ERROR_NO_BITMAP = -2;     // not allocated (or a stale copy of a freed record)
constexpr int RK_ERROR_INV_PARAMETER = -3; // null pointer, bad size, row/column out of range
constexpr int RK_ERROR_STRUCT_SIZE = -4;   // declared record size is not 284 (or 2320)
constexpr int RK_ERROR_BITSPERPIXEL = -5;  // depth not supported by this operation
constexpr int RK_ERROR_IO = -6;            // the disk-backed storage could not be read/written
constexpr int RK_ERROR_TOO_LARGE = -7;     // a row exceeds INT_MAX bytes, or the file is too big
constexpr int RK_ERROR_NOT_LOCKED = -8;    // unlock without a matching lock
constexpr int RK_ERROR_INV_HANDLE = -9;    // a handle (DIB, DDB, DC) is null or not ours, or a
                                           // record's geometry fields were edited
constexpr int RK_ERROR_CANCELLED = -100;   // stopped by a callback

// A short English description of a kernel code, for diagnostics ("success" for codes above 0).
OUTSIDE_API const char* RkStatusText(int code);
