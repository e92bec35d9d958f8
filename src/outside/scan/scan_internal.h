// scan_internal.h - the SANE side of the scanner sessions, shared by the TWAIN- and WIA-shaped
// layers.
#pragma once

#include "scan.h"

#include <sane/sane.h>
#include <sane/saneopts.h>
#include <string>
#include <vector>

namespace scan {

struct Device {
    std::string name, vendor, model, type;
};

// Starts SANE for one more session (sane_init on the first); SC_SUCCESS or an SC_* code.
int StartSane();
// Ends one session's use (sane_exit after the last).
void StopSane();

// The devices SANE lists; SC_SUCCESS, or an SC_* code (list then empty).
int ListDevices(std::vector<Device>& out);
// SC_SUCCESS and out set to the index of the device named name, else SC_ERROR_NO_SOURCE or
// the listing's failure.
int FindDevice(const std::string& name, std::vector<Device>& devices, std::size_t& out);

// A choice request to the sink among devices: SC_SUCCESS and chosen set; SC_ERROR_NO_SOURCE;
// SC_ERROR_CANCELLED.
int ChooseDevice(const std::vector<Device>& devices, unsigned templateId, const wchar_t* caption,
                 std::size_t initial, std::size_t& chosen);

// Checks a properties record's values (not its size); SC_SUCCESS or SC_ERROR_INVALID_VALUE.
int CheckProperties(const _LTWAINPROPERTIES& p);
std::uint32_t SetTimeoutMs(std::uint32_t ms);

// A device of the session, kept open between scans when asked.
class Scanner {
public:
    Scanner() = default;
    ~Scanner() { Close(); }
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;

    // Opens name unless it is already the open device. SC_SUCCESS or an SC_* code.
    int Open(const std::string& name);
    void Close();
    bool IsOpen() const { return m_handle != nullptr; }

    // Applies props (null: nothing) to the device's options. SC_SUCCESS or an SC_* code.
    int Configure(const _LTWAINPROPERTIES* props);
    // Fills the ranges of props from the device's options.
    void Describe(_LTWAINPROPERTIES& props);
    // True when the device's source option names a document feeder.
    bool FeederSelected();

    // Scans one page into consumer. SC_SUCCESS or an SC_* code; *noDocs set when the device
    // reported an empty feeder.
    int ScanPage(ScRowConsumer& consumer, bool* noDocs = nullptr);

private:
    int OptionIndex(const char* name, SANE_Option_Descriptor const** desc);
    int SetNumber(const char* name, double value, bool fixedMillimetres);
    int SetString(const char* name, const char* value);

    SANE_Handle m_handle = nullptr;
    std::string m_name;
};

// A row consumer that builds a kernel bitmap. Rows of a hand scanner are held until the end.
class BitmapBuilder : public ScRowConsumer {
public:
    explicit BitmapBuilder(_BITMAPHANDLE* bitmap) : m_bitmap(bitmap) {}
    int Begin(const SCSCANFORMAT& format) override;
    int Row(const std::uint8_t* row) override;
    // Completes the bitmap after a successful scan; SC_SUCCESS or an SC_* code.
    int Finish();

private:
    int Convert(const std::uint8_t* in, std::uint8_t* out) const;
    _BITMAPHANDLE* m_bitmap;
    SCSCANFORMAT m_format{};
    int m_bits = 0;
    std::uint64_t m_outBytes = 0;
    std::int64_t m_rows = 0;
    std::vector<std::uint8_t> m_line;
    std::vector<std::uint8_t> m_held; // rows of unknown-height scans
    int m_status = SC_SUCCESS;
};

} // namespace scan
