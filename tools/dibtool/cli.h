// cli.h - what the verbs share: an option parser that takes options before, between or after
// the file arguments, failure lines, UTF-8 and JSON text, and the progress bar that carries
// Ctrl-C to the library as a cancellation.
#pragma once

#include <cstdint>
#include <dib/Formats.h>
#include <dib/outside/base/progress.h>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace cli {

// Exit statuses of every verb.
constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130; // 128 + SIGINT, as shells report it

struct OptionDef {
    const char* name; // "--json"
    bool takesValue;  // "--format NAME" or "--format=NAME"
};

// The command line of one verb. Options may stand anywhere; "--" ends them (for a file whose
// name starts with "-"). An option given twice, an unknown one, a missing value or a count of
// file arguments outside [minFiles, maxFiles] is a usage error. "--help" (or "-h") prints the
// usage and answers kExitOk.
class Args {
public:
    Args(const char* verb, const char* usage) : verb_(verb), usage_(usage) {}
    // -1 when the command line is usable, else the exit status (after a message).
    int Parse(int argc, char** argv, const std::vector<OptionDef>& options, std::size_t minFiles,
              std::size_t maxFiles);

    bool Has(std::string_view option) const { return values_.count(std::string(option)) != 0; }
    // The option's value, or fallback when it was not given.
    std::string Value(std::string_view option, std::string fallback = {}) const;
    const std::vector<std::string>& Files() const { return files_; }

    // "dibtool VERB: <message>" and the usage line on stderr; kExitUsage.
    int UsageError(const std::string& message) const;
    const char* verb() const { return verb_; }

private:
    const char* verb_;
    const char* usage_;
    std::vector<std::string> files_;
    std::map<std::string, std::string> values_;
};

// The format number of an output file: --format (a number, a name of the library's table with
// '-' or '_' for spaces, or a short name such as png or tif) or else OUT's extension (.tif
// .tiff .png .jpg .jpeg .bmp .pcx .gif .tga). kTiffAuto when TIFF with LZW is meant without a
// choice of CMYK or not (the caller decides by the image). -1 after a usage message, for an
// unknown name or extension and for a number the library does not write.
constexpr int kTiffAuto = 0;
constexpr int kTiffLzw = 17;
int ChooseFormat(const Args& args, const std::string& out, const std::vector<DibFormat>& known);

// A whole number in [min, max], or false.
bool ParseInt(const std::string& text, long long min, long long max, long long& out);

// One line on stderr: "dibtool VERB: FILE: OPERATION: status S (meaning)[: reason]", the meaning
// from the status table (DibStatusText) and the reason the library left, when there is one.
// Returns kExitFailed, or kExitInterrupted when Ctrl-C was pressed (the line then says so).
int Failure(const char* verb, std::string_view file, std::string_view operation, int status);

// UTF-8 <-> the library's wide paths. Ill-formed UTF-8 is refused rather than guessed at.
bool Wide(std::string_view utf8, std::wstring& out);
std::string Utf8(std::wstring_view wide);
// A JSON string literal: quotes, backslashes and control characters escaped.
std::string JsonString(std::string_view utf8);

// Ctrl-C: the first SIGINT only sets a flag that every Progress answers as a stop request
// (the library then returns its cancel status); a second one ends the process at once.
void InstallInterruptHandler();
bool Interrupted();

// The library's progress indicator as a bar on stderr ("[#####.....]  50%") when shown is
// true, redrawn only when the whole percentage changes; always the carrier of Ctrl-C.
class Progress : public TIndicadorEstat {
public:
    explicit Progress(bool shown) : shown_(shown) {}
    ~Progress() override { Finish(); }
    // Erases the bar (when one was drawn) so that later lines start clean.
    void Finish();
    int Cancelat() const override;

protected:
    void MostrarPosicio(double pos) override;

private:
    bool shown_;
    bool drawn_ = false;
    int percent_ = -1;
};

// Whether a verb shows a progress bar: stderr is a terminal and --quiet was not given.
bool ShowProgress(const Args& args);

} // namespace cli
