// tiff_tools_preview.cpp - the TIFF tools' preview calls: the file previews of TDib.
#include <dib/TDib.h>
#include <dib/TiffTools.h>

int CTIFTools::GetPreview(const wchar_t* path, int sizeKB, TDib*& preview,
                          TIndicadorEstat* progress)
{
    return TDib::GetPreview(path, sizeKB, preview, progress, nullptr);
}

int CTIFTools::GetPreview(const wchar_t* path, int width, int height, unsigned long background,
                          TDib*& preview, TIndicadorEstat* progress)
{
    return TDib::GetPreview(path, width, height, background, preview, progress, nullptr);
}
