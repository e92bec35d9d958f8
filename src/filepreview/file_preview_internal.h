// file_preview_internal.h - the steps of the file previews, for the previews themselves and
// their tests.
#pragma once

class CFILEINFO;
class TDib;
class TIndicadorEstat;

namespace dib::filepreview {

// The largest box side the file previews take: the canvas is twice the box.
constexpr int kMaxBoxSide = 16384;

// A file of fileWidth x fileHeight fitted into a canvas of canvasWidth x canvasHeight keeping
// its aspect ratio (sides rounded half away from zero, never below 1). byHeight: the file
// fills the canvas's height (it is then centred across), else its width (centred down).
struct Fit {
    int width = 0;
    int height = 0;
    bool byHeight = false;
};
Fit FitInCanvas(int fileWidth, int fileHeight, int canvasWidth, int canvasHeight);

// The box of the budgeted preview: the file's size scaled so that a 24-bit image of the box
// takes about sizeKB kibibytes (at most twice that unless six passes do not get there). 0 x 0
// for sizeKB < 1 or a file side below 1.
void BudgetBox(int sizeKB, int fileWidth, int fileHeight, int& boxWidth, int& boxHeight);

// For a JPEG of fileWidth x fileHeight wanted at width x height: the decoder's scale in
// eighths (1 to 8), the smallest that still leaves at least width x height.
int JpegScaleFor(int fileWidth, int fileHeight, int width, int height);

// The streamed preview: the file's lines, decoded once, scaled to width x height by the
// preview scaler. out: null or an image made anew (taken over, deleted after a failure); on
// success the preview, top-down. reducedDecode: a JPEG may be decoded at a reduced scale
// (JpegScaleFor). Status: 0; the decoder's or the scaler's; -2 when nothing was decoded.
int StreamedPreview(const wchar_t* path, const CFILEINFO& info, int width, int height, TDib*& out,
                    TIndicadorEstat* progress, bool reducedDecode);

// The boxed preview with the reduced JPEG decode switched on or off.
int BoxedPreview(const wchar_t* path, int width, int height, unsigned long background,
                 TDib*& preview, TIndicadorEstat* progress, const CFILEINFO* info,
                 bool reducedDecode);

} // namespace dib::filepreview
