// Paths and files for the file-information tests.
#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <raster/file_module.h>
#include <string>
#include <vector>

namespace infotest {

inline std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

inline std::string DataPath(const char* name)
{
    return std::string(DIB_TEST_DATA_DIR) + "/" + name;
}

inline std::wstring Data(const char* name)
{
    return Wide(DataPath(name));
}

inline std::vector<unsigned char> ReadAll(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

inline std::string TempFolder()
{
    const char* dir = std::getenv("DIB_TEST_TMP");
    return dir && *dir ? dir : "/tmp";
}

inline void WriteAll(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

// The kernel's format number for a fixture, or 0 when its file module does not know the file.
inline int KernelFormat(const char* name)
{
    _FILEINFO k{};
    k.uStructSize = FILEINFO_SIZE;
    return RkFileInfo(DataPath(name).c_str(), &k, FILEINFO_SIZE) > 0 ? k.Format : 0;
}

} // namespace infotest
