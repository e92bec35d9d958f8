// png_support.cpp - PngInput: silent warnings, fatal errors kept as the last error text.
#include "png_support.h"

#include "../core/last_error.h"

namespace codec {
namespace {

void Error(png_structp png, png_const_charp message)
{
    core::SetLastErrorText(message);
    png_longjmp(png, 1);
}

void Warning(png_structp, png_const_charp) {}

} // namespace

PngInput::PngInput(core::ByteSource& source) : source_(source)
{
    png_ = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Error, Warning);
    if (!png_)
        return;
    info_ = png_create_info_struct(png_);
    if (info_)
        png_set_read_fn(png_, this, Read);
}

PngInput::~PngInput()
{
    if (png_)
        png_destroy_read_struct(&png_, info_ ? &info_ : nullptr, nullptr);
}

void PngInput::Read(png_structp png, png_bytep out, png_size_t n)
{
    auto* self = static_cast<PngInput*>(png_get_io_ptr(png));
    if (!self->source_.readExact(self->offset_, out, n))
        png_error(png, "unexpected end of data");
    self->offset_ += n;
}

} // namespace codec
