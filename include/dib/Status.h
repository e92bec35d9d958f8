// Status.h - the status results of libdib.
//
// Every operation that reports success or failure returns an int: 0 for success, one of the
// negative values below otherwise. A failure of the raster kernel (or of one of the library's
// own readers, which follow the kernel's convention) with its own negative code e is reported as
// e - 3000 (see DIB_STATUS_KERNEL_BASE): the kernel's -1 (no memory) reaches the caller as -3001.
// Yes/no queries return 1 or 0 instead; operations that return an object return null on
// failure.
#pragma once

constexpr int DIB_OK = 0;                // success
constexpr int DIB_ERR_NO_MEMORY = -1;    // a work buffer could not be allocated, or a module
                                         // resource failed to load
constexpr int DIB_ERR_UNSUPPORTED = -2;  // input of an unsupported kind (e.g. a DIB depth)
constexpr int DIB_ERR_INVALID = -3;      // invalid argument or unrecognised data
constexpr int DIB_ERR_FAILED = -5;       // failure without a more specific code, cancellation
                                         // through a progress indicator included
constexpr int DIB_ERR_READ = -7;         // persistence: a record could not be read
constexpr int DIB_ERR_WRITE = -8;        // persistence: a record could not be written
constexpr int DIB_ERR_BAD_MAGIC = -9;    // persistence: a stream record has the wrong magic
constexpr int DIB_ERR_NO_RESOURCE = -11; // a module resource was not found

// A kernel code e (other than 0 and -100) is reported as DIB_STATUS_KERNEL_BASE + e.
constexpr int DIB_STATUS_KERNEL_BASE = -3000;

#include <dib/Export.h>

// The reason behind the last failure on the calling thread: a short English sentence left by
// the reader, writer or service that failed (a decoder's own message, "not a regular file",
// ...), or "" when none gave one. Statuses stay the codes above; the text only explains them.
// Every thread has its own text; a later failure on the same thread replaces it, and success
// does not clear it. The pointer stays valid until the thread's next library call.
extern "C" DIB_API const char* DibGetLastErrorText();
// Empties the calling thread's text (before an operation whose reason the caller wants alone).
extern "C" DIB_API void DibClearLastErrorText();
// The meaning of a status result as a short English phrase ("success", "invalid argument or
// unrecognised data", ...). Every kernel range status (DIB_STATUS_KERNEL_BASE + e) gives
// the same phrase: the code e itself is the caller's to show. A value that is no status gives
// "unknown status". The text is static: never freed, valid for the whole process.
extern "C" DIB_API const char* DibStatusText(int status);
