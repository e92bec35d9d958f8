// fuzz_settings.cpp - the settings store read from arbitrary bytes, then one value written:
// the reader must survive any file, and a commit must leave a store the reader accepts.
#include <base/registry.h>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

std::string StoreFolder()
{
    static std::string folder = [] {
        char tmpl[] = "/tmp/dib-fuzz-settings-XXXXXX";
        std::string dir = mkdtemp(tmpl) ? tmpl : "/tmp";
        setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
        mkdir((dir + "/libdib").c_str(), 0700);
        return dir + "/libdib";
    }();
    return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size > (1u << 20))
        return 0;
    const std::string file = StoreFolder() + "/registry.txt";
    if (FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    for (const wchar_t* path : {L"Software\\Fuzz", L"", L"A\\B\\C"}) {
        TCarpetaRegistry folder(HKEY_CURRENT_USER, path);
        if (folder.Obrir(1)) {
            int value = 0;
            std::wstring text;
            folder.TornaValor(L"Valor", value, 7);
            folder.TornaText(L"Text", text, L"");
            folder.EntraValor(L"Valor", std::uint32_t(value) + 1);
            folder.Tancar();
        }
    }
    TCarpetaRegistry again(HKEY_CURRENT_USER, L"Software\\Fuzz");
    if (again.Obrir(0)) {
        int value = 0;
        again.TornaValor(L"Valor", value, 0);
        again.Tancar();
    }
    return 0;
}
