// info.cpp - `dibtool info FILE [--json] [--engine]`: what the library says about an image file
// without decoding it: the labelled description as text, or every field of the file
// information as one JSON object. --engine adds the raster engine's XML description (and lets
// it correct the record, as TDib::GetInfoFitxer does when asked for it).
#include "cli.h"
#include "verbs.h"

#include <cstdio>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <string>

namespace {

constexpr const char* kUsage = "FILE [--json] [--engine]";

// The labelled description has its colour-space line first whenever the code has a name.
std::string ColourSpaceName(const CInfoFitxerDIB& described, std::uint32_t code)
{
    switch (code) {
    case DIB_CS_CMYK:
    case DIB_CS_LAB:
    case DIB_CS_RGB:
    case DIB_CS_MULTICHANNEL:
    case DIB_CS_GREY:
    case DIB_CS_MONO:
        if (described.m_info.ColorSpace == code && described.m_valors.GetCount() > 0)
            return cli::JsonString(cli::Utf8(described.m_valors.Get(0)));
        return "null";
    default:
        return "null";
    }
}

std::string Number(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

void PrintJson(const std::string& file, const CInfoFitxerDIB& described, const CFILEINFO& f,
               unsigned long iccBytes, bool engine)
{
    std::printf("{\n");
    std::printf("  \"file\": %s,\n", cli::JsonString(file).c_str());
    std::printf("  \"status\": 0,\n");
    std::printf("  \"format\": %d,\n", int(f.Format));
    std::printf("  \"format_name\": %s,\n",
                cli::JsonString(cli::Utf8(described.m_nomFormat.str())).c_str());
    std::printf("  \"width\": %d,\n  \"height\": %d,\n", int(f.Width), int(f.Height));
    std::printf("  \"bits_per_pixel\": %d,\n", int(f.BitsPerPixel));
    std::printf("  \"resolution_x\": %s,\n  \"resolution_y\": %s,\n", Number(f.XResolution).c_str(),
                Number(f.YResolution).c_str());
    std::printf("  \"colour_space\": %d,\n", static_cast<std::int32_t>(f.ColorSpace));
    std::printf("  \"colour_space_name\": %s,\n", ColourSpaceName(described, f.ColorSpace).c_str());
    std::printf("  \"channels\": %u,\n  \"bits_per_channel\": %u,\n", unsigned(f.Channels),
                unsigned(f.BitsPerChannel));
    std::printf("  \"alpha_channel\": %d,\n", int(f.AlphaChannel));
    std::printf("  \"indexed\": %s,\n  \"tiled\": %s,\n", f.Indexed ? "true" : "false",
                f.Tiled ? "true" : "false");
    std::printf("  \"view_perspective\": %d,\n", int(f.ViewPerspective));
    std::printf("  \"icc_profile_bytes\": %lu%s\n", iccBytes, engine ? "," : "");
    if (engine)
        std::printf("  \"engine_description\": %s\n",
                    cli::JsonString(cli::Utf8(f.EngineInfo.str())).c_str());
    std::printf("}\n");
}

int JsonFailure(const std::string& file, int status)
{
    std::printf("{\n  \"file\": %s,\n  \"status\": %d,\n  \"status_text\": %s\n}\n",
                cli::JsonString(file).c_str(), status,
                cli::JsonString(DibStatusText(status)).c_str());
    return cli::Failure("info", file, "describe", status);
}

} // namespace

int RunInfo(int argc, char** argv)
{
    cli::Args args("info", kUsage);
    if (const int rc = args.Parse(argc, argv, {{"--json", false}, {"--engine", false}}, 1, 1);
        rc >= 0)
        return rc;
    const std::string& file = args.Files()[0];
    std::wstring path;
    if (!cli::Wide(file, path))
        return args.UsageError("FILE must be UTF-8");
    const bool json = args.Has("--json"), engine = args.Has("--engine");

    DibClearLastErrorText();
    CInfoFitxerDIB described;
    if (const int status = TDib::GetInfoFitxer(path.c_str(), described); status < 0)
        return json ? JsonFailure(file, status) : cli::Failure("info", file, "describe", status);
    CFILEINFO record = described.m_info;
    if (engine) {
        if (const int status = TDib::GetInfoFitxer(path.c_str(), 1, &record); status < 0)
            return json ? JsonFailure(file, status)
                        : cli::Failure("info", file, "describe with the engine", status);
    }
    if (json) {
        PrintJson(file, described, record, TDib::GetEmbededICC(path.c_str(), nullptr, &record),
                  engine);
        return cli::kExitOk;
    }
    CString text;
    TDib::GetInfoFitxer(path.c_str(), text);
    std::string lines = cli::Utf8(text.str());
    for (std::size_t at; (at = lines.find("\r\n")) != std::string::npos;)
        lines.erase(at, 1);
    std::printf("%s\n", lines.c_str());
    if (engine) {
        const std::string xml = cli::Utf8(record.EngineInfo.str());
        std::printf("Engine description:%s%s\n", xml.empty() ? " none" : "\n", xml.c_str());
    }
    return cli::kExitOk;
}
