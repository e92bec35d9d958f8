// Shared helpers for the test executables.
#include "support/support.h"

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>

namespace dibtest {

TempDir::TempDir()
{
    const char* base = std::getenv("DIB_TEST_TMP");
    std::filesystem::path root = base ? base : std::filesystem::temp_directory_path();
    std::filesystem::create_directories(root);
    std::random_device rd;
    for (int attempt = 0; attempt < 100; ++attempt) {
        auto candidate = root / ("t" + std::to_string(::getpid()) + "_" + std::to_string(rd()));
        std::error_code ec;
        if (std::filesystem::create_directory(candidate, ec)) {
            path_ = candidate;
            return;
        }
    }
    ADD_FAILURE() << "cannot create a temporary folder under " << root;
}

TempDir::~TempDir()
{
    std::error_code ec;
    if (!path_.empty())
        std::filesystem::remove_all(path_, ec);
}

} // namespace dibtest
