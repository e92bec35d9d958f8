// sane_test_env.h - a private SANE configuration holding only the `test` backend.
//
// SANE reads SANE_CONFIG_DIR once per process, so the folder is made once (before the first
// scanner call) and each test rewrites test.conf, which the backend reads whenever SANE
// starts (every scanner session of a test is ended before the next test starts SANE again).
// dll.conf names only `test`, so no network backend is probed.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <dlfcn.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <unistd.h>

// SANE's test backend leaks its line buffer when a scan is cancelled or a frame is
// restarted (inside libsane-test, not in the code under test). A test program that scans
// expands this macro once, at file scope, to tell LeakSanitizer about that module only.
#define DIB_SANE_TEST_LEAK_SUPPRESSIONS()                                                          \
    extern "C" __attribute__((visibility("default"), used)) const char*                            \
    __lsan_default_suppressions()                                                                  \
    {                                                                                              \
        return "leak:libsane-test.so\n";                                                           \
    }

namespace dibtest {

class SaneTestEnv {
public:
    // The process's folder (made on first use) and SANE_CONFIG_DIR pointing at it.
    static const std::filesystem::path& Dir()
    {
        static const std::filesystem::path dir = [] {
            std::string tmpl =
                (std::filesystem::temp_directory_path() / "dib-sane-XXXXXX").string();
            const char* made = ::mkdtemp(tmpl.data());
            std::filesystem::path d = made ? made : tmpl;
            std::ofstream(d / "dll.conf") << "test\n";
            ::setenv("SANE_CONFIG_DIR", d.c_str(), 1);
            // Held open for the process, so that the backend is not unloaded at sane_exit and
            // its own leaks stay attributable to it (see DIB_SANE_TEST_LEAK_SUPPRESSIONS).
            ::dlopen("/usr/lib/x86_64-linux-gnu/sane/libsane-test.so.1", RTLD_LAZY | RTLD_LOCAL);
            std::atexit([] { std::filesystem::remove_all(Dir()); });
            return d;
        }();
        return dir;
    }

    // Writes test.conf: the backend's defaults (two devices, grey 8 bits at 50 dpi, solid
    // black, 80 x 100 mm) with the given options replaced or added ("mode" -> "Color").
    // withBackend false empties dll.conf: SANE then knows no device (the test backend itself
    // cannot be asked for none).
    static void Configure(const std::map<std::string, std::string>& options = {},
                          bool withBackend = true)
    {
        std::ofstream(Dir() / "dll.conf", std::ios::trunc) << (withBackend ? "test\n" : "");
        std::map<std::string, std::string> conf = {
            {"number_of_devices", "2"},
            {"mode", "Gray"},
            {"depth", "8"},
            {"hand-scanner", "false"},
            {"three-pass", "false"},
            {"three-pass-order", "RGB"},
            {"resolution_min", "1.0"},
            {"resolution_max", "1200.0"},
            {"resolution_quant", "1.0"},
            {"resolution", "50.0"},
            {"test-picture", "\"Solid black\""},
            {"invert-endianess", "false"},
            {"read-limit", "false"},
            {"read-limit-size", "1"},
            {"read-delay", "false"},
            {"read-delay-duration", "1000"},
            {"read-status-code", "\"Default\""},
            {"fuzzy-parameters", "false"},
            {"ppl-loss", "0"},
            {"non-blocking", "false"},
            {"select-fd", "false"},
            {"enable-test-options", "false"},
            {"geometry_min", "0.0"},
            {"geometry_max", "200.0"},
            {"geometry_quant", "1.0"},
            {"tl_x", "0.0"},
            {"tl_y", "0.0"},
            {"br_x", "80.0"},
            {"br_y", "100.0"},
        };
        for (const auto& [k, v] : options)
            conf[k] = v;
        std::ofstream out(Dir() / "test.conf", std::ios::trunc);
        for (const auto& [k, v] : conf)
            out << k << ' ' << v << '\n';
    }
};

} // namespace dibtest
