// print_job.h - printer device contexts: print jobs whose pages are drawn with cairo into a
// PDF, written to a file or handed to the CUPS spooler (`lp`).
//
// A printer context is a context on a cairo context (cairo_dc.h) whose user space is the
// page in device units of 1/600 inch: GetDeviceCaps answers 600 for LOGPIXELSX/Y and the
// page's size in those units for HORZRES/VERTRES (and PHYSICALWIDTH/HEIGHT). Drawing before
// StartDoc or between EndPage and the next StartPage lands on the page that comes next.
//
// The PDF is written to a temporary file beside its destination from the context's creation
// and appears under its own name only when EndDoc succeeds; a job that is aborted, or whose
// context is deleted before EndDoc, leaves no file behind. With a printer named, EndDoc runs
// `lp -d PRINTER -t TITLE -- FILE` (the first `lp` on PATH) and removes the file afterwards;
// the job succeeds when `lp` exits with status 0.
//
// Threads: one job is used by one thread at a time.
#pragma once

#include "../outside_api.h"
#include "windef.h"

struct tagDOCINFOW {
    int cbSize;
    const wchar_t* lpszDocName; // the PDF's title and the spooler's job title; may be null
    const wchar_t* lpszOutput;  // not used: the destination is given at creation
    const wchar_t* lpszDatatype;
    DWORD fwType;
};
using DOCINFOW = tagDOCINFOW;

constexpr int SP_ERROR = -1;
constexpr int kPrinterDpi = 600;

// A printer context. printer: null or "" to write the PDF to output (a UTF-8 path, required
// then); otherwise the CUPS queue that receives the job (output is not used). widthMm and
// heightMm: the page size in millimetres; 0 for either selects A4 (210 x 297). Null when the
// temporary file cannot be created or a size is negative, not finite or above 5000 mm.
OUTSIDE_API HDC WinCreatePrinterDC(const char* printer, const char* output, double widthMm,
                                   double heightMm);

// Starts the job (once): > 0 on success, SP_ERROR for a context that is not a printer context
// or a job already started or ended.
OUTSIDE_API int StartDocW(HDC dc, const DOCINFOW* info);
// Starts a page: > 0, or SP_ERROR outside a started job or inside a page.
OUTSIDE_API int StartPage(HDC dc);
// Ends the page (it is emitted into the PDF): > 0, or SP_ERROR outside a page or when cairo
// reports a failure.
OUTSIDE_API int EndPage(HDC dc);
// Ends the job: ends an open page, completes the PDF and delivers it (rename, or `lp`).
// > 0 on success; SP_ERROR when the job was not started, or the PDF could not be written
// (disk full, cairo failure), renamed, or handed to the spooler. After EndDoc, successful or
// not, the job is over.
OUTSIDE_API int EndDoc(HDC dc);
// Abandons the job and removes its file: > 0, or SP_ERROR for a context that is not a
// printer context.
OUTSIDE_API int AbortDoc(HDC dc);
