// Shared helpers for the test executables.
#pragma once

#include <filesystem>
#include <gtest/gtest.h>

namespace dibtest {

// A fresh folder for one test, removed with everything in it when the object goes.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

} // namespace dibtest
