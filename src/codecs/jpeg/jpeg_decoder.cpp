// jpeg_decoder.cpp - the decompressor's calls, each behind its own jump point.
#include "jpeg_decoder_internal.h"
#include "jpeg_icc.h"

#include <core/last_error.h>
#include <csetjmp>
#include <cstdint>
#include <new>
#include <unistd.h>

namespace jpeg {
namespace {

// libjpeg allocates whole-image coefficient buffers for progressive and multi-scan files; more
// than half the machine's memory is refused (libjpeg then fails cleanly: no backing store).
long DecoderMemoryLimit()
{
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long pageSize = sysconf(_SC_PAGESIZE);
    constexpr long kFallback = 1L << 30;
    if (pages <= 0 || pageSize <= 0)
        return kFallback;
    const std::uint64_t half = std::uint64_t(pages) * std::uint64_t(pageSize) / 2;
    return half > std::uint64_t(INT64_MAX) ? INT64_MAX : long(half);
}

void ProgressMonitor(j_common_ptr common)
{
    if (!common->is_decompressor)
        return;
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    if (cinfo->input_scan_number > kMaxScans) {
        core::SetLastErrorTextF("more than %d scans", kMaxScans);
        std::longjmp(reinterpret_cast<codec::JpegErrors*>(common->err)->jump, 1);
    }
}

} // namespace

Decoder::~Decoder()
{
    if (state_ && state_->created)
        jpeg_destroy_decompress(&state_->cinfo);
}

bool Decoder::Create(core::ByteSource& source)
{
    state_.reset(new (std::nothrow) DecoderState);
    if (!state_) {
        core::SetLastErrorText("out of memory");
        return false;
    }
    DecoderState* s = state_.get();
    s->created = false;
    s->cinfo.err = codec::InitJpegErrors(s->errors);
    if (setjmp(s->errors.jump))
        return false;
    jpeg_create_decompress(&s->cinfo);
    s->created = true;
    codec::SetJpegSource(&s->cinfo, s->source, source);
    s->cinfo.mem->max_memory_to_use = DecoderMemoryLimit();
    s->progress.progress_monitor = ProgressMonitor;
    s->cinfo.progress = &s->progress;
    return true;
}

bool Decoder::SaveIccMarkers()
{
    DecoderState* s = state_.get();
    if (setjmp(s->errors.jump))
        return false;
    _prepareICCJPEG(&s->cinfo);
    return true;
}

int Decoder::ReadHeader(bool requireImage)
{
    DecoderState* s = state_.get();
    if (setjmp(s->errors.jump))
        return -1;
    return jpeg_read_header(&s->cinfo, requireImage ? TRUE : FALSE);
}

bool Decoder::Start()
{
    DecoderState* s = state_.get();
    if (setjmp(s->errors.jump))
        return false;
    return jpeg_start_decompress(&s->cinfo) != FALSE;
}

int Decoder::ReadLine(JSAMPROW row)
{
    DecoderState* s = state_.get();
    if (setjmp(s->errors.jump))
        return -1;
    JSAMPROW rows[1] = {row};
    return int(jpeg_read_scanlines(&s->cinfo, rows, 1));
}

bool Decoder::Finish()
{
    DecoderState* s = state_.get();
    if (setjmp(s->errors.jump))
        return false;
    return jpeg_finish_decompress(&s->cinfo) != FALSE;
}

void Decoder::Abort()
{
    DecoderState* s = state_.get();
    if (setjmp(s->errors.jump))
        return;
    jpeg_abort_decompress(&s->cinfo);
}

} // namespace jpeg
