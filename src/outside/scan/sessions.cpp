// sessions.cpp - the TWAIN- and WIA-shaped sessions over the SANE side.
//
// Contents
//   shared ........... session state, the default device, property records
//   TWAIN ............ ScTwain*
//   WIA .............. ScWia*
#include "scan_internal.h"

#include <core/last_error.h>
#include <cstring>
#include <new>
#include <raster/kernel.h>
#include <win/files.h>
#include <win/global_memory.h>

struct ScTwainSession {
    SCTWAINAPPDATA app{};
    std::string selected; // empty: the default device
    bool haveProps = false;
    _LTWAINPROPERTIES props{};
    scan::Scanner scanner;
};

struct ScWiaSession {
    std::string selected;
    bool haveProps = false;
    _LTWAINPROPERTIES props{};
    scan::Scanner scanner;
};

namespace {

// The selected device, else the first SANE lists.
int ResolveDevice(const std::string& selected, std::string& name)
{
    if (!selected.empty()) {
        name = selected;
        return SC_SUCCESS;
    }
    std::vector<scan::Device> devices;
    if (int st = scan::ListDevices(devices); st != SC_SUCCESS)
        return st;
    if (devices.empty()) {
        core::SetLastErrorText("scanner: no device found");
        return SC_ERROR_NO_SOURCE;
    }
    name = devices.front().name;
    return SC_SUCCESS;
}

int SetProps(bool& have, _LTWAINPROPERTIES& mine, scan::Scanner& scanner,
             const _LTWAINPROPERTIES* properties, std::uint32_t mode)
{
    if (mode == SC_PROPERTIES_RESET) {
        have = false;
        mine = {};
        scanner.Close(); // the device's own settings come back when it opens again
        return SC_SUCCESS;
    }
    if (mode != SC_PROPERTIES_SET || !properties ||
        properties->uStructSize != SC_TWAIN_PROPERTIES_SIZE) {
        core::SetLastErrorText("scanner: invalid properties request");
        return SC_ERROR_INVALID_VALUE;
    }
    if (int st = scan::CheckProperties(*properties); st != SC_SUCCESS)
        return st;
    mine = *properties;
    have = true;
    return SC_SUCCESS;
}

// Opens and configures the device for a scan.
int Prepare(const std::string& selected, scan::Scanner& scanner, bool haveProps,
            const _LTWAINPROPERTIES& props)
{
    std::string name;
    if (int st = ResolveDevice(selected, name); st != SC_SUCCESS)
        return st;
    if (int st = scanner.Open(name); st != SC_SUCCESS)
        return st;
    if (int st = scanner.Configure(haveProps ? &props : nullptr); st != SC_SUCCESS) {
        scanner.Close();
        return st;
    }
    return SC_SUCCESS;
}

int BadSession()
{
    core::SetLastErrorText("scanner: no session");
    return SC_ERROR_BAD_PROTOCOL;
}

} // namespace

// ---- TWAIN ----------------------------------------------------------------------------------

int ScTwainIsAvailable(HWND)
{
    if (int st = scan::StartSane(); st != SC_SUCCESS)
        return st;
    std::vector<scan::Device> devices;
    int st = scan::ListDevices(devices);
    scan::StopSane();
    if (st == SC_SUCCESS && devices.empty()) {
        core::SetLastErrorText("scanner: no device found");
        st = SC_ERROR_NO_SOURCE;
    }
    return st;
}

int ScTwainStartSession(HSCTWAINSESSION* session, const SCTWAINAPPDATA* app)
{
    if (session)
        *session = nullptr;
    if (!session || !app || app->uStructSize != SC_TWAIN_APPDATA_SIZE) {
        core::SetLastErrorText("scanner: invalid session request");
        return SC_ERROR_INVALID_VALUE;
    }
    auto* s = new (std::nothrow) ScTwainSession;
    if (!s)
        return SC_ERROR_LOW_MEMORY;
    if (int st = scan::StartSane(); st != SC_SUCCESS) {
        delete s;
        return st;
    }
    s->app = *app;
    *session = s;
    return SC_SUCCESS;
}

int ScTwainEndSession(HSCTWAINSESSION* session)
{
    if (!session || !*session)
        return BadSession();
    delete *session; // closes a kept-open device
    *session = nullptr;
    scan::StopSane();
    return SC_SUCCESS;
}

int ScTwainSelectSource(HSCTWAINSESSION session, const SCTWAINSOURCE* source)
{
    if (!session)
        return BadSession();
    std::vector<scan::Device> devices;
    std::size_t index = 0;
    if (!source) {
        if (int st = scan::ListDevices(devices); st != SC_SUCCESS)
            return st;
        std::size_t initial = 0;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (devices[i].name == session->selected)
                initial = i;
        }
        if (int st =
                scan::ChooseDevice(devices, SC_DLG_TWAIN_SOURCE, L"Select Source", initial, index);
            st != SC_SUCCESS)
            return st;
    } else {
        if (source->uStructSize != SC_TWAIN_SOURCE_SIZE || !source->pszTwainSourceName ||
            !source->pszTwainSourceName[0]) {
            core::SetLastErrorText("scanner: invalid source request");
            return SC_ERROR_INVALID_VALUE;
        }
        std::string name;
        if (!PathToUtf8(source->pszTwainSourceName, name)) {
            core::SetLastErrorText("scanner: the source name is not valid text");
            return SC_ERROR_INVALID_VALUE;
        }
        if (int st = scan::FindDevice(name, devices, index); st != SC_SUCCESS)
            return st;
    }
    if (session->selected != devices[index].name)
        session->scanner.Close();
    session->selected = devices[index].name;
    return SC_SUCCESS;
}

int ScTwainGetSources(HSCTWAINSESSION session, SCTWAINSOURCECALLBACK callback,
                      std::uint32_t infoSize, std::uint32_t mode, void* user)
{
    if (!session)
        return BadSession();
    if (!callback || infoSize != SC_TWAIN_SOURCEINFO_SIZE ||
        (mode != SC_SOURCES_ALL && mode != SC_SOURCES_DEFAULT)) {
        core::SetLastErrorText("scanner: invalid source listing request");
        return SC_ERROR_INVALID_VALUE;
    }
    std::vector<scan::Device> devices;
    if (int st = scan::ListDevices(devices); st != SC_SUCCESS)
        return st;
    if (devices.empty()) {
        core::SetLastErrorText("scanner: no device found");
        return SC_ERROR_NO_SOURCE;
    }
    std::size_t first = 0, last = devices.size();
    if (mode == SC_SOURCES_DEFAULT) {
        last = 1;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (devices[i].name == session->selected) {
                first = i;
                last = i + 1;
            }
        }
    }
    for (std::size_t i = first; i < last; ++i) {
        const std::wstring name = Utf8ToWide(devices[i].name);
        const std::wstring vendor = Utf8ToWide(devices[i].vendor);
        const std::wstring model = Utf8ToWide(devices[i].model);
        _LTWAINSOURCEINFO info{SC_TWAIN_SOURCEINFO_SIZE, name.c_str(), vendor.c_str(),
                               model.c_str()};
        if (callback(session, &info, user) != 1) {
            core::SetLastErrorText("scanner: the listing was stopped");
            return SC_ERROR_CANCELLED;
        }
    }
    return SC_SUCCESS;
}

int ScTwainStartCapsNeg(HSCTWAINSESSION session)
{
    return session ? SC_SUCCESS : BadSession();
}

int ScTwainEndCapsNeg(HSCTWAINSESSION session)
{
    return session ? SC_SUCCESS : BadSession();
}

int ScTwainSetCapability(HSCTWAINSESSION session, const SCTWAINCAPABILITY* cap, std::uint32_t mode)
{
    if (!session)
        return BadSession();
    if (!cap || !cap->hContainer || mode != SC_CAP_SET || GlobalSize(cap->hContainer) < 6) {
        core::SetLastErrorText("scanner: invalid capability");
        return SC_ERROR_INVALID_VALUE;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(GlobalLock(cap->hContainer));
    if (!bytes)
        return SC_ERROR_INVALID_VALUE;
    std::uint16_t type = 0;
    std::uint32_t value = 0;
    std::memcpy(&type, bytes, 2);
    std::memcpy(&value, bytes + 2, 4);
    GlobalUnlock(cap->hContainer);
    if (cap->Cap != SC_ICAP_XFERMECH || cap->ConType != SC_TWON_ONEVALUE ||
        type != SC_TWTY_UINT16 || value != SC_TWSX_NATIVE) {
        core::SetLastErrorText("scanner: only the native transfer is supported");
        return SC_ERROR_UNSUPPORTED;
    }
    return SC_SUCCESS;
}

int ScTwainSetProperties(HSCTWAINSESSION session, const _LTWAINPROPERTIES* properties,
                         std::uint32_t mode)
{
    if (!session)
        return BadSession();
    return SetProps(session->haveProps, session->props, session->scanner, properties, mode);
}

int ScTwainGetProperties(HSCTWAINSESSION session, _LTWAINPROPERTIES* properties, std::uint32_t size,
                         std::uint32_t)
{
    if (!session)
        return BadSession();
    if (!properties || size != SC_TWAIN_PROPERTIES_SIZE) {
        core::SetLastErrorText("scanner: invalid properties request");
        return SC_ERROR_INVALID_VALUE;
    }
    _LTWAINPROPERTIES out{};
    if (session->haveProps)
        out = session->props;
    out.uStructSize = SC_TWAIN_PROPERTIES_SIZE;
    std::string name;
    if (int st = ResolveDevice(session->selected, name); st != SC_SUCCESS)
        return st;
    const bool wasOpen = session->scanner.IsOpen();
    if (int st = session->scanner.Open(name); st != SC_SUCCESS)
        return st;
    session->scanner.Describe(out);
    if (!wasOpen)
        session->scanner.Close();
    *properties = out;
    return SC_SUCCESS;
}

int ScTwainAcquire(HSCTWAINSESSION session, _BITMAPHANDLE* bitmap, std::uint32_t size,
                   std::uint32_t flags)
{
    if (!session)
        return BadSession();
    if (!bitmap || size != BITMAPHANDLE_SIZE) {
        core::SetLastErrorText("scanner: invalid bitmap");
        return SC_ERROR_INVALID_VALUE;
    }
    RkFreeBitmap(bitmap);
    int st = Prepare(session->selected, session->scanner, session->haveProps, session->props);
    if (st == SC_SUCCESS) {
        scan::BitmapBuilder builder(bitmap);
        st = session->scanner.ScanPage(builder);
        st = st == SC_SUCCESS ? builder.Finish() : (RkFreeBitmap(bitmap), st);
    }
    if (!(flags & SC_ACQUIRE_KEEP_OPEN) || st != SC_SUCCESS)
        session->scanner.Close();
    return st;
}

int ScTwainAcquireRows(HSCTWAINSESSION session, ScRowConsumer* consumer)
{
    if (!session)
        return BadSession();
    if (!consumer)
        return SC_ERROR_INVALID_VALUE;
    int st = Prepare(session->selected, session->scanner, session->haveProps, session->props);
    if (st == SC_SUCCESS)
        st = session->scanner.ScanPage(*consumer);
    session->scanner.Close();
    return st;
}

// ---- WIA --------------------------------------------------------------------------------------

int ScWiaStartSession(std::uint32_t version, HSCWIASESSION* session)
{
    if (session)
        *session = nullptr;
    if (!session || (version != 1 && version != 2)) {
        core::SetLastErrorText("scanner: invalid session request");
        return SC_ERROR_INVALID_VALUE;
    }
    auto* s = new (std::nothrow) ScWiaSession;
    if (!s)
        return SC_ERROR_LOW_MEMORY;
    if (int st = scan::StartSane(); st != SC_SUCCESS) {
        delete s;
        return st;
    }
    *session = s;
    return SC_SUCCESS;
}

int ScWiaEndSession(HSCWIASESSION* session)
{
    if (!session || !*session)
        return BadSession();
    delete *session;
    *session = nullptr;
    scan::StopSane();
    return SC_SUCCESS;
}

int ScWiaEnumDevices(HSCWIASESSION session, SCWIADEVICECALLBACK callback, void* user)
{
    if (!session)
        return BadSession();
    if (!callback)
        return SC_ERROR_INVALID_VALUE;
    std::vector<scan::Device> devices;
    if (int st = scan::ListDevices(devices); st != SC_SUCCESS)
        return st;
    if (devices.empty()) {
        core::SetLastErrorText("scanner: no device found");
        return SC_ERROR_NO_SOURCE;
    }
    for (const scan::Device& d : devices) {
        const std::wstring id = Utf8ToWide(d.name);
        const std::wstring name = Utf8ToWide(d.vendor + " " + d.model);
        const std::wstring desc = Utf8ToWide(d.type);
        SCWIADEVICEINFO info{SC_WIA_DEVICEINFO_SIZE, id.c_str(), name.c_str(), desc.c_str()};
        if (callback(session, &info, user) != 1) {
            core::SetLastErrorText("scanner: the listing was stopped");
            return SC_ERROR_CANCELLED;
        }
    }
    return SC_SUCCESS;
}

int ScWiaSelectDevice(HSCWIASESSION session, const wchar_t* deviceId)
{
    if (!session)
        return BadSession();
    std::string name;
    if (!deviceId || !deviceId[0] || !PathToUtf8(deviceId, name)) {
        core::SetLastErrorText("scanner: invalid device identifier");
        return SC_ERROR_INVALID_VALUE;
    }
    std::vector<scan::Device> devices;
    std::size_t index = 0;
    if (int st = scan::FindDevice(name, devices, index); st != SC_SUCCESS)
        return st;
    if (session->selected != name)
        session->scanner.Close();
    session->selected = name;
    return SC_SUCCESS;
}

int ScWiaSelectDeviceDlg(HSCWIASESSION session, HWND, std::uint32_t)
{
    if (!session)
        return BadSession();
    std::vector<scan::Device> devices;
    if (int st = scan::ListDevices(devices); st != SC_SUCCESS)
        return st;
    std::size_t index = 0;
    if (int st = scan::ChooseDevice(devices, SC_DLG_WIA_DEVICE, L"Select Device", 0, index);
        st != SC_SUCCESS)
        return st;
    if (session->selected != devices[index].name)
        session->scanner.Close();
    session->selected = devices[index].name;
    return SC_SUCCESS;
}

int ScWiaSetProperties(HSCWIASESSION session, const _LTWAINPROPERTIES* properties,
                       std::uint32_t mode)
{
    if (!session)
        return BadSession();
    return SetProps(session->haveProps, session->props, session->scanner, properties, mode);
}

int ScWiaAcquire(HSCWIASESSION session, HWND, std::uint32_t, SCWIAPAGECALLBACK page, void* user)
{
    if (!session)
        return BadSession();
    if (!page)
        return SC_ERROR_INVALID_VALUE;
    int st = Prepare(session->selected, session->scanner, session->haveProps, session->props);
    if (st != SC_SUCCESS)
        return st;
    const bool feeder = session->scanner.FeederSelected();
    int pages = 0;
    // A feeder is read until it runs empty; the bound only stops a device that never does.
    for (int sheet = 0; sheet < (feeder ? 100000 : 1); ++sheet) {
        _BITMAPHANDLE bitmap{};
        RkInitBitmap(&bitmap, BITMAPHANDLE_SIZE, 0, 0, 0);
        scan::BitmapBuilder builder(&bitmap);
        bool noDocs = false;
        st = session->scanner.ScanPage(builder, &noDocs);
        if (st == SC_SUCCESS)
            st = builder.Finish();
        if (st != SC_SUCCESS) {
            RkFreeBitmap(&bitmap);
            if (noDocs && pages > 0)
                st = SC_SUCCESS; // the feeder ran empty after some sheets
            break;
        }
        ++pages;
        const int go = page(session, &bitmap, user);
        RkFreeBitmap(&bitmap);
        if (go != 1) {
            core::SetLastErrorText("scanner: the acquisition was stopped");
            st = SC_ERROR_CANCELLED;
            break;
        }
    }
    session->scanner.Close();
    return st;
}
