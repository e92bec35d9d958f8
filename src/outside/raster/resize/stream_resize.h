// stream_resize.h - the kernel's streaming resize: rows of a source image pushed one at a time,
// top to bottom, each answered with the scaled row and how many rows of the result it yields.
// Memory is O(width): weight tables and one accumulated row per stream, never the image.
//
// Resampling, separable:
//  - across a row: on a reduction each result pixel is the area-weighted average of every
//    source pixel it covers (as OpenCV's INTER_AREA); on an enlargement, linear interpolation
//    between the two nearest source pixels with pixel centres aligned and edges replicated (as
//    INTER_LINEAR); the same width copies the row;
//  - down the rows: on a reduction (or the same height) each result row is the area-weighted
//    average of the source rows it covers, and it is handed out with the source row that
//    completes it (count 1; count 0 for the rows that complete none). On an enlargement every
//    source row is handed out once, scaled across, with count = the number of result rows whose
//    centres fall into it (nearest row): the caller writes that one row count times, so the
//    contract cannot carry rows interpolated between two source rows.
//  Counts are exact, in integer arithmetic: the rows of one stream yield exactly the result
//  height in total.
//
// Samples are bytes: bitsPerPixel is 8 x the samples per pixel (8 to 64). One handle serves
// several streams of the same rows at different depths at once (a colour row and its alpha row
// with the same row index): each depth is its own stream with its own position.
#pragma once

#include "../../outside_api.h"

// Starts a resize of srcWidth x srcHeight to dstWidth x dstHeight (all at least 1 and at most
// 1 << 28, else RK_ERROR_INV_PARAMETER). handle receives the state (null on failure).
// RK_SUCCESS or RK_ERROR_NO_MEMORY.
OUTSIDE_API int RkStartResize(int srcWidth, int srcHeight, int dstWidth, int dstHeight,
                              void** handle);

// Pushes source row `row` (0-based; each stream's rows must come in order 0, 1, ...) of
// srcWidth pixels at bitsPerPixel. On success the scaled row (dstWidth pixels) is written back
// into `row` when count > 0, which therefore must hold the larger of the two rows; outWidth
// receives dstWidth and count the number of result rows this source row yields. Results:
// RK_SUCCESS; RK_ERROR_INV_PARAMETER for a null argument, a row out of order or past the
// source height; RK_ERROR_BITSPERPIXEL for a depth that is not a multiple of 8 from 8 to 64;
// RK_ERROR_NO_MEMORY when a new stream cannot be set up. A failed call changes nothing.
OUTSIDE_API int RkResizeRow(unsigned char* row, int rowIndex, int bitsPerPixel, int* outWidth,
                            int* count, void* handle);

// Ends the resize and frees the state (rows not pushed are simply never produced).
// RK_ERROR_INV_PARAMETER for a null handle.
OUTSIDE_API int RkStopResize(void* handle);
