// codec_list.cpp - the kernel's codecs in probing order. Codecs recognised by a signature come
// first; TGA, which has none, comes last.
#include "codecs_b.h"
#include "formats_internal.h"

namespace rkfmt {

extern const Codec kBmpCodec;
extern const Codec kBmpRleCodec;
extern const Codec kPngCodec;
extern const Codec kGifCodec;
extern const Codec kPcxCodec;
extern const Codec kTgaCodec;

const std::vector<const Codec*>& AllCodecs()
{
    static const std::vector<const Codec*> list = {
        &kBmpCodec, &kBmpRleCodec, &kPngCodec, &kGifCodec, &kJpegCodec, &kTiffCodec, &kPcxCodec,
        &kPcdCodec, // its signature lies beyond the probe's bytes: checked by the dispatch
        &kTgaCodec, // no signature: keep last
    };
    return list;
}

} // namespace rkfmt
