// last_error.h - the reason behind the last failure, per thread.
//
// Statuses stay integer codes; beside a failure, the code that detected it may leave a short
// English sentence here (a decoder's own message, "not a TIFF file", ...), which a caller reads
// for a one-line error. Every thread has its own text. Setting never fails (a text that cannot
// be stored is dropped) and never throws.
#pragma once

namespace core {

// Replaces this thread's text (null clears it).
void SetLastErrorText(const char* text) noexcept;
// printf-style form of SetLastErrorText; the result is cut at 1023 bytes.
void SetLastErrorTextF(const char* format, ...) noexcept __attribute__((format(printf, 1, 2)));
// This thread's text; "" when none. Valid until this thread's next Set or Clear.
const char* GetLastErrorText() noexcept;
void ClearLastErrorText() noexcept;

} // namespace core
