// jpeg_support.cpp - the call-local error manager and the ByteSource source manager.
#include "jpeg_support.h"

#include "../core/last_error.h"

#include <algorithm>
#include <jerror.h>

namespace codec {
namespace {

[[noreturn]] void ErrorExit(j_common_ptr cinfo)
{
    char message[JMSG_LENGTH_MAX];
    (*cinfo->err->format_message)(cinfo, message);
    core::SetLastErrorText(message);
    auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
    std::longjmp(errors->jump, 1);
}

// Warnings after which the decoded pixels are not the encoded ones.
bool IsDamage(int code)
{
    switch (code) {
    case JWRN_HIT_MARKER:        // entropy data ended before the blocks did
    case JWRN_HUFF_BAD_CODE:     // undecodable Huffman code
    case JWRN_ARITH_BAD_CODE:    // undecodable arithmetic code
    case JWRN_MUST_RESYNC:       // restart marker lost: blocks skipped
    case JWRN_JPEG_EOF:          // the data ended before the end-of-image marker
    case JWRN_NOT_SEQUENTIAL:    // scan order broken
    case JWRN_BOGUS_PROGRESSION: // coefficients refined that were never sent
        return true;
    default:
        return false;
    }
}

void EmitMessage(j_common_ptr cinfo, int level)
{
    // level < 0 is a warning: counted, as libjpeg does, but never shown.
    if (level >= 0)
        return;
    cinfo->err->num_warnings++;
    if (IsDamage(cinfo->err->msg_code)) {
        auto* errors = reinterpret_cast<JpegErrors*>(cinfo->err);
        if (errors->damage++ == 0) {
            char message[JMSG_LENGTH_MAX];
            (*cinfo->err->format_message)(cinfo, message);
            core::SetLastErrorText(message);
        }
    }
}

void OutputMessage(j_common_ptr) {}

void InitSource(j_decompress_ptr) {}

boolean FillInput(j_decompress_ptr cinfo)
{
    auto* s = reinterpret_cast<JpegSource*>(cinfo->src);
    const std::int64_t got = s->source->readAt(s->offset, s->buffer, sizeof s->buffer);
    if (got <= 0) {
        // The data ended early: hand the decoder an end-of-image marker.
        s->truncated = true;
        WARNMS(cinfo, JWRN_JPEG_EOF);
        s->buffer[0] = 0xFF;
        s->buffer[1] = JPEG_EOI;
        s->pub.next_input_byte = s->buffer;
        s->pub.bytes_in_buffer = 2;
        return TRUE;
    }
    s->offset += std::uint64_t(got);
    s->pub.next_input_byte = s->buffer;
    s->pub.bytes_in_buffer = std::size_t(got);
    return TRUE;
}

void SkipInput(j_decompress_ptr cinfo, long count)
{
    auto* s = reinterpret_cast<JpegSource*>(cinfo->src);
    if (count <= 0)
        return;
    std::uint64_t n = std::uint64_t(count);
    if (n <= s->pub.bytes_in_buffer) {
        s->pub.next_input_byte += n;
        s->pub.bytes_in_buffer -= std::size_t(n);
        return;
    }
    // Skip in the source without reading what lies between.
    n -= s->pub.bytes_in_buffer;
    s->pub.bytes_in_buffer = 0;
    const std::uint64_t size = s->source->size();
    const std::uint64_t left = size > s->offset ? size - s->offset : 0;
    if (n <= left) {
        s->offset += n;
        return;
    }
    s->offset = size;
    FillInput(cinfo);
}

void TermSource(j_decompress_ptr) {}

} // namespace

jpeg_error_mgr* InitJpegErrors(JpegErrors& errors)
{
    jpeg_std_error(&errors.pub);
    errors.damage = 0;
    errors.pub.error_exit = ErrorExit;
    errors.pub.emit_message = EmitMessage;
    errors.pub.output_message = OutputMessage;
    return &errors.pub;
}

void SetJpegSource(j_decompress_ptr cinfo, JpegSource& state, core::ByteSource& source)
{
    state.source = &source;
    state.offset = 0;
    state.truncated = false;
    state.pub.init_source = InitSource;
    state.pub.fill_input_buffer = FillInput;
    state.pub.skip_input_data = SkipInput;
    state.pub.resync_to_restart = jpeg_resync_to_restart;
    state.pub.term_source = TermSource;
    state.pub.bytes_in_buffer = 0;
    state.pub.next_input_byte = nullptr;
    cinfo->src = &state.pub;
}

} // namespace codec
