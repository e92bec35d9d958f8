// png_support.h - a libpng read structure that owns itself, reads a ByteSource and keeps its
// errors inside the call.
//
// libpng reports fatal errors by longjmp to png_jmpbuf(png); the function that calls setjmp
// must hold no C++ object with a destructor between the setjmp and the libpng calls. The error
// message becomes this thread's last error text; warnings are dropped.
#pragma once

#include "../core/byte_source.h"

#include <png.h>

namespace codec {

class PngInput {
public:
    // A read structure and its info structure over source (which must outlive this object).
    // valid() is false when libpng could not allocate them.
    explicit PngInput(core::ByteSource& source);
    ~PngInput();
    PngInput(const PngInput&) = delete;
    PngInput& operator=(const PngInput&) = delete;

    bool valid() const { return png_ && info_; }
    png_structp png() const { return png_; }
    png_infop info() const { return info_; }
    // Bytes consumed so far.
    std::uint64_t offset() const { return offset_; }

private:
    static void Read(png_structp png, png_bytep out, png_size_t n);

    core::ByteSource& source_;
    std::uint64_t offset_ = 0;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
};

} // namespace codec
