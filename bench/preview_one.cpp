// preview_one.cpp - one boxed file preview through libdib.so's public interface, timed.
//
//   preview_one FILE BOX [OUT.ppm]
//
// Prints the seconds the preview took and its size; OUT.ppm receives the preview. Built and
// run by preview_peers.sh (c++ -std=c++20 preview_one.cpp -Iinclude -Ibuild/public-include
// -Lbuild/src -ldib).
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <dib/Status.h>
#include <dib/TDib.h>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: preview_one FILE BOX [OUT.ppm]\n");
        return 2;
    }
    std::setlocale(LC_ALL, "C.UTF-8");
    std::wstring path(std::mbstowcs(nullptr, argv[1], 0), L'\0');
    std::mbstowcs(path.data(), argv[1], path.size());
    const int box = std::atoi(argv[2]);

    const auto t0 = std::chrono::steady_clock::now();
    TDib* made = nullptr;
    const int r = TDib::GetPreview(path.c_str(), box, box, 0xFFFFFF, made, nullptr, nullptr);
    const auto t1 = std::chrono::steady_clock::now();
    std::unique_ptr<TDib> preview(made);
    if (r != 0 || !preview) {
        std::fprintf(stderr, "preview failed: %d %s\n", r, DibGetLastErrorText());
        return 1;
    }
    std::printf("%.3f s %dx%d\n", std::chrono::duration<double>(t1 - t0).count(),
                preview->GetMidaX(), preview->GetMidaY());
    if (argc > 3) {
        FILE* f = std::fopen(argv[3], "wb");
        if (!f)
            return 1;
        const int w = preview->GetMidaX(), h = preview->GetMidaY();
        std::fprintf(f, "P6\n%d %d\n255\n", w, h);
        std::vector<unsigned char> row(std::size_t(w) * 3);
        for (int y = 0; y < h; ++y) {
            preview->GetLinia(y, row.data(), row.size(), 1);
            std::fwrite(row.data(), 1, row.size(), f);
        }
        std::fclose(f);
    }
    return 0;
}
