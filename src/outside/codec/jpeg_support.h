// jpeg_support.h - libjpeg's error handling kept inside the call, and a source manager over a
// ByteSource.
//
// libjpeg's default fatal-error handler exits the process. JpegErrors replaces it: a fatal
// error keeps the message as this thread's last error text and longjmps to `jump`. The
// function that calls setjmp(errors.jump) must hold no C++ object with a destructor between
// the setjmp and the libjpeg calls (keep owned objects in its caller). Warnings are counted
// (errors.pub.num_warnings) and otherwise dropped: nothing reaches stdout or stderr. Warnings
// that mean the entropy-coded data did not decode as it was encoded (a bad code, data cut
// short, a lost restart, a broken progression) are also counted in errors.damage, with their
// message kept as this thread's last error text: libjpeg goes on with grey or zero blocks, and
// a reader that must not report damaged pixels as success checks that count.
//
//     codec::JpegErrors errors;
//     jpeg_decompress_struct cinfo;
//     cinfo.err = codec::InitJpegErrors(errors);
//     if (setjmp(errors.jump)) { jpeg_destroy_decompress(&cinfo); return failure; }
//     jpeg_create_decompress(&cinfo);
#pragma once

#include "../core/byte_source.h"

#include <csetjmp>
#include <cstddef>
#include <cstdio>
#include <jpeglib.h>

namespace codec {

struct JpegErrors {
    jpeg_error_mgr pub; // first: libjpeg sees a jpeg_error_mgr*
    std::jmp_buf jump;
    long damage = 0; // warnings that report damaged scan data (reset by InitJpegErrors)
};

// Sets up errors (libjpeg's standard manager with the exit and output routines replaced) and
// returns the pointer to store in cinfo.err.
jpeg_error_mgr* InitJpegErrors(JpegErrors& errors);

// Source manager state; lives as long as the decompressor uses it.
struct JpegSource {
    jpeg_source_mgr pub; // first: libjpeg sees a jpeg_source_mgr*
    core::ByteSource* source = nullptr;
    std::uint64_t offset = 0;
    JOCTET buffer[64 * 1024];
    // Set when the data ended before the decoder was done: the source then supplies an end
    // marker, as libjpeg's own sources do, so the decoder finishes with grey rows. A reader
    // that must not report damaged data as success checks this flag.
    bool truncated = false;
};

// Points cinfo at source through state (cinfo must have been created).
void SetJpegSource(j_decompress_ptr cinfo, JpegSource& state, core::ByteSource& source);

} // namespace codec
