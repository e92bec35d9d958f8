// Fuzz target: CPSDTools::Load, LoadHeaders and the ICC scan on one document.
//
// The reader takes a path, so each input is written to an in-memory file reached through
// /proc/self/fd.
#include <cstddef>
#include <cstdint>
#include <dib/PsdTools.h>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>
#include <win/gdi.h>

namespace {

const std::wstring& InputPath(const uint8_t* data, size_t size)
{
    static const int fd = memfd_create("fuzz_psd", 0);
    static const std::wstring path = L"/proc/self/fd/" + std::to_wstring(fd);
    if (fd >= 0) {
        (void)ftruncate(fd, 0);
        for (size_t done = 0; done < size;) {
            const ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
            if (n <= 0)
                break;
            done += size_t(n);
        }
    }
    return path;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    const std::wstring& path = InputPath(data, size);

    CPSDTools psd;
    psd.Load(path.c_str());
    if (HBITMAP bitmap = psd.Detach())
        DeleteObject(bitmap);

    CPSDTools headers;
    headers.LoadHeaders(path.c_str());
    CPSDTools copy;
    copy = headers;

    const unsigned long need = CPSDTools::_GetEmbededICC(path.c_str(), nullptr);
    if (need > 0 && need <= size) {
        std::vector<unsigned char> icc(need);
        CPSDTools::_GetEmbededICC(path.c_str(), icc.data());
    }
    return 0;
}
