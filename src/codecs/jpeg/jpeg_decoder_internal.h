// jpeg_decoder_internal.h - one libjpeg decompressor over a byte source, with every libjpeg
// call made from a small function that sets its own jump point.
//
// libjpeg reports a fatal error by longjmp. Each call below (DecoderCreate, DecoderReadHeader,
// ...) does setjmp itself and holds nothing with a destructor, so a fatal error unwinds only
// C frames and the plain frame of that call, which then answers failure. The owner (Decoder)
// keeps the decompressor, the error manager and the source manager at fixed addresses and
// destroys the decompressor when it goes.
#pragma once

#include <codec/jpeg_support.h>
#include <core/byte_source.h>
#include <cstdio>
#include <jpeglib.h>
#include <memory>

namespace jpeg {

// Scans a progressive file may hold before it is refused: every scan walks the whole image,
// so a small file of many scans would otherwise cost without bound.
constexpr int kMaxScans = 1000;

struct DecoderState {
    codec::JpegErrors errors;
    jpeg_decompress_struct cinfo;
    codec::JpegSource source;
    jpeg_progress_mgr progress;
    bool created;
};

class Decoder {
public:
    Decoder() = default;
    ~Decoder();
    Decoder(const Decoder&) = delete;
    Decoder& operator=(const Decoder&) = delete;

    // Creates the decompressor reading from source (kept for the decoder's life). False when
    // memory runs out or libjpeg refuses.
    bool Create(core::ByteSource& source);

    jpeg_decompress_struct& cinfo() { return state_->cinfo; }
    // True when the data ended early or a warning reported damaged scan data.
    bool Damaged() const { return state_->source.truncated || state_->errors.damage > 0; }
    bool Truncated() const { return state_->source.truncated; }

    // Each answers false (or -1) after a fatal libjpeg error; the reason is the thread's last
    // error text.
    bool SaveIccMarkers();             // _prepareICCJPEG
    int ReadHeader(bool requireImage); // jpeg_read_header's result, or -1
    bool Start();
    int ReadLine(JSAMPROW row); // lines read (1, or 0 when none came), or -1
    bool Finish();
    void Abort();

private:
    std::unique_ptr<DecoderState> state_;
};

} // namespace jpeg
