// quickstart: describe an image file, open it, and save a preview of it as a TIFF.
// Usage: quickstart IN PREVIEW.tif
#include <clocale>
#include <cstdio>
#include <dib/FileInfo.h>
#include <dib/Status.h>
#include <dib/TDib.h>
#include <memory>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: quickstart IN PREVIEW.tif\n");
        return 2;
    }
    std::setlocale(LC_ALL, "C.UTF-8");       // %ls prints the library's wide texts as UTF-8
    const CString in(argv[1]), out(argv[2]); // UTF-8 paths become the library's wide paths

    // What the file is, from its headers alone.
    CInfoFitxerDIB info;
    int status = TDib::GetInfoFitxer(in, info);
    if (status != DIB_OK) {
        std::fprintf(stderr, "%s: status %d (%s)\n", argv[1], status, DibGetLastErrorText());
        return 1;
    }
    std::printf("%s: %ls\n", argv[1], info.m_nomFormat.GetString());
    for (int i = 0; i < info.m_etiquetes.GetCount(); ++i)
        std::printf("  %ls: %ls\n", info.m_etiquetes[i], info.m_valors[i]);

    // The pixels, top row first, in memory.
    TDib image;
    status = image.Obrir(in);
    if (status != DIB_OK) {
        std::fprintf(stderr, "%s: status %d (%s)\n", argv[1], status, DibGetLastErrorText());
        return 1;
    }
    std::printf("opened: %d x %d pixels, %d bits per pixel, %.0f x %.0f dpi\n", image.GetMidaX(),
                image.GetMidaY(), image.GetBitsPerPixel(), image.GetResolucioX(),
                image.GetResolucioY());

    // A 160 x 120 preview of the file on white, in screen colours (CMYK files included),
    // streamed line by line; the caller owns it. Format 17 saves it as an LZW TIFF.
    TDib* made = nullptr;
    status = TDib::GetPreview(in, 160, 120, 0xFFFFFF, made);
    std::unique_ptr<TDib> preview(made);
    if (status == DIB_OK)
        status = preview->Salvar(out, 17);
    if (status != DIB_OK) {
        std::fprintf(stderr, "%s: status %d (%s)\n", argv[2], status, DibGetLastErrorText());
        return 1;
    }
    std::printf("preview: %d x %d pixels, %d bits per pixel, saved as %s\n", preview->GetMidaX(),
                preview->GetMidaY(), preview->GetBitsPerPixel(), argv[2]);
    return 0;
}
