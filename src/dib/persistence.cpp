// persistence.cpp - the persistence records of a TDib (stream and serializer).
//
// The records embed a complete image file, so they need the file codecs. Until those are
// linked in, every operation here answers -2 (unsupported) and touches neither the stream nor
// the image.
#include <dib/TDib.h>

int TDib::Guardar(FILE* /*stream*/) const
{
    return DIB_ERR_UNSUPPORTED;
}

int TDib::Llegir(FILE* /*stream*/)
{
    return DIB_ERR_UNSUPPORTED;
}

int TDib::Llegir(TSerializer* /*serializer*/, const SER_RECORDHEADER& /*header*/,
                 TIndicadorEstat* /*progress*/)
{
    return DIB_ERR_UNSUPPORTED;
}

int TDib::Escriure(TSerializer* /*serializer*/, const t_VERSIOSER* /*version*/,
                   TIndicadorEstat* /*progress*/) const
{
    return DIB_ERR_UNSUPPORTED;
}
