// The start-up path: what it registers, that it runs once, and that libtiff stays silent.
#include <base/texts.h>
#include <cstdio>
#include <dib/internal/library_module.h>
#include <gtest/gtest.h>
#include <startup/startup.h>
#include <thread>
#include <tiffio.h>
#include <unistd.h>
#include <vector>
#include <win/module_resources.h>

namespace {

// Everything written to standard error while fn runs.
template <class Fn> std::string CaptureStderr(Fn fn)
{
    testing::internal::CaptureStderr();
    fn();
    return testing::internal::GetCapturedStderr();
}

TEST(Startup, RegistersTheLibraryModuleAndItsTexts)
{
    ASSERT_TRUE(dib::StartupDone());
    HINSTANCE own = WinFindModule(L"libdib");
    ASSERT_NE(own, nullptr);
    EXPECT_EQ(own, dib::LibraryModule());
    // The French string table sits in the module (block of ids 22000..22015), and the module
    // is in the chain, so the host's resource lookups find it.
    EXPECT_NE(FindResourceW(own, MAKEINTRESOURCEW(22001 / 16 + 1), RT_STRING), nullptr);
    EXPECT_EQ(AfxFindResourceHandle(MAKEINTRESOURCEW(22001 / 16 + 1), RT_STRING), own);
    EXPECT_NE(GetModulIdioma(), nullptr);
    EXPECT_FALSE(AfxLoadString(22001).empty());
}

TEST(Startup, RunsOnceWhateverTheNumberOfThreads)
{
    HINSTANCE before = WinFindModule(L"libdib");
    std::vector<std::thread> threads;
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([] { dib::Startup(); });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(WinFindModule(L"libdib"), before);
}

TEST(Startup, LibtiffMessagesAreDiscarded)
{
    // Plain TIFFOpen uses the process-wide handlers that start-up replaced.
    const std::string text = CaptureStderr([] {
        TIFF* t = TIFFOpen("/nonexistent/dib-startup-test.tif", "r");
        EXPECT_EQ(t, nullptr);
        char path[] = "/tmp/dib-notatiff-XXXXXX";
        const int fd = mkstemp(path);
        ASSERT_EQ(write(fd, "II*\0garbage-garbage", 19), 19);
        close(fd);
        EXPECT_EQ(TIFFOpen(path, "r"), nullptr);
        unlink(path);
    });
    EXPECT_EQ(text, "");
}

} // namespace
