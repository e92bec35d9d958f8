// sane_backend.cpp - SANE under a time bound: start and end, device lists, device options,
// page scans, and the bitmap made from a scan.
//
// Contents
//   bounded calls ......... one process-wide lock; calls that cannot be cancelled run on a
//                           worker thread and are abandoned after the timeout
//   start and devices ..... StartSane, StopSane, ListDevices, FindDevice, ChooseDevice
//   options ............... Scanner::Configure, Describe, FeederSelected
//   scanning .............. Scanner::ScanPage (watchdog, frames, three-pass planes)
//   bitmaps ............... BitmapBuilder
#include "scan_internal.h"

#include <algorithm>
#include <atomic>
#include <base/ui.h>
#include <chrono>
#include <condition_variable>
#include <core/checked_size.h>
#include <core/last_error.h>
#include <cstring>
#include <memory>
#include <mutex>
#include <raster/kernel.h>
#include <thread>
#include <win/files.h>

namespace scan {
namespace {

std::atomic<std::uint32_t> g_timeoutMs{60000};
// Serialises every SANE call of the process (SANE is not reentrant).
// A plain mutex taken by polling with a deadline: std::timed_mutex's timed lock goes through
// pthread_mutex_clocklock, which thread checkers do not follow.
std::mutex g_sane;
// Calls abandoned after the timeout and still running: SANE is refused until they return.
std::atomic<int> g_abandoned{0};
int g_users = 0; // sessions that started SANE (under g_sane)

std::chrono::milliseconds Timeout()
{
    return std::chrono::milliseconds(g_timeoutMs.load());
}

int FromSane(SANE_Status s)
{
    core::SetLastErrorTextF("scanner: %s", sane_strstatus(s));
    switch (s) {
    case SANE_STATUS_GOOD:
        return SC_SUCCESS;
    case SANE_STATUS_NO_MEM:
        return SC_ERROR_LOW_MEMORY;
    case SANE_STATUS_DEVICE_BUSY:
        return SC_ERROR_MAX_CONNECTIONS;
    case SANE_STATUS_IO_ERROR:
    case SANE_STATUS_JAMMED:
    case SANE_STATUS_NO_DOCS:
    case SANE_STATUS_COVER_OPEN:
    case SANE_STATUS_ACCESS_DENIED:
        return SC_ERROR_OPERATION;
    case SANE_STATUS_UNSUPPORTED:
        return SC_ERROR_UNSUPPORTED;
    case SANE_STATUS_INVAL:
        return SC_ERROR_INVALID_VALUE;
    case SANE_STATUS_CANCELLED:
        return SC_ERROR_CANCELLED;
    default:
        return SC_ERROR_FAILURE;
    }
}

int Busy(const char* what)
{
    core::SetLastErrorTextF("scanner: %s", what);
    return SC_ERROR_MAX_CONNECTIONS;
}

// Holds the SANE lock for one call sequence.
class SaneLock {
public:
    SaneLock() : m_lock(g_sane, std::defer_lock)
    {
        const auto deadline = std::chrono::steady_clock::now() + Timeout();
        while (!(m_ok = m_lock.try_lock()) && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    // SC_SUCCESS when SANE may be called now.
    int Status() const
    {
        if (!m_ok)
            return Busy("another scan is still running");
        if (g_abandoned.load() > 0)
            return Busy("an earlier scanner call has not returned");
        return SC_SUCCESS;
    }

private:
    std::unique_lock<std::mutex> m_lock;
    bool m_ok = false;
};

// Runs f on a worker thread and waits up to the timeout. The result lives in shared state, so
// an abandoned call writes nowhere the caller still uses. False when abandoned.
template <class R, class F> bool RunBounded(F f, R& result)
{
    struct State {
        std::mutex m;
        std::condition_variable cv;
        bool done = false;
        bool abandoned = false;
        R result{};
    };
    auto state = std::make_shared<State>();
    std::thread worker;
    try {
        worker = std::thread([state, f]() mutable {
            R r = f();
            std::lock_guard<std::mutex> l(state->m);
            state->result = std::move(r);
            state->done = true;
            if (state->abandoned)
                g_abandoned.fetch_sub(1);
            state->cv.notify_all();
        });
    } catch (...) {
        // No thread: run here, unbounded (only when threads cannot be made at all).
        result = f();
        return true;
    }
    std::unique_lock<std::mutex> l(state->m);
    if (!state->cv.wait_for(l, Timeout(), [&] { return state->done; })) {
        state->abandoned = true;
        g_abandoned.fetch_add(1);
        l.unlock();
        worker.detach();
        return false;
    }
    result = std::move(state->result);
    l.unlock();
    worker.join();
    return true;
}

std::string Text(const char* s)
{
    return s ? s : "";
}

} // namespace

// ---- start and devices ------------------------------------------------------------------------

int StartSane()
{
    SaneLock lock;
    if (int st = lock.Status(); st != SC_SUCCESS)
        return st;
    if (g_users > 0) {
        ++g_users;
        return SC_SUCCESS;
    }
    SANE_Status status = SANE_STATUS_GOOD;
    if (!RunBounded([] { return sane_init(nullptr, nullptr); }, status))
        return Busy("SANE did not start in time");
    if (status != SANE_STATUS_GOOD)
        return FromSane(status);
    g_users = 1;
    return SC_SUCCESS;
}

void StopSane()
{
    SaneLock lock;
    if (lock.Status() != SC_SUCCESS || g_users <= 0)
        return; // SANE stays started: an abandoned call may still be inside it
    if (--g_users == 0) {
        int unused = 0;
        RunBounded(
            [] {
                sane_exit();
                return 0;
            },
            unused);
    }
}

int ListDevices(std::vector<Device>& out)
{
    out.clear();
    SaneLock lock;
    if (int st = lock.Status(); st != SC_SUCCESS)
        return st;
    struct Listing {
        SANE_Status status = SANE_STATUS_GOOD;
        std::vector<Device> devices;
    } listing;
    const bool done = RunBounded(
        [] {
            Listing l;
            const SANE_Device** list = nullptr;
            l.status = sane_get_devices(&list, SANE_FALSE);
            for (std::size_t i = 0; l.status == SANE_STATUS_GOOD && list && list[i]; ++i)
                l.devices.push_back({Text(list[i]->name), Text(list[i]->vendor),
                                     Text(list[i]->model), Text(list[i]->type)});
            return l;
        },
        listing);
    if (!done)
        return Busy("the device list did not come in time");
    if (listing.status != SANE_STATUS_GOOD)
        return FromSane(listing.status);
    out = std::move(listing.devices);
    return SC_SUCCESS;
}

int FindDevice(const std::string& name, std::vector<Device>& devices, std::size_t& out)
{
    if (int st = ListDevices(devices); st != SC_SUCCESS)
        return st;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (devices[i].name == name) {
            out = i;
            return SC_SUCCESS;
        }
    }
    core::SetLastErrorTextF("scanner: no device named '%s'", name.c_str());
    return SC_ERROR_NO_SOURCE;
}

int ChooseDevice(const std::vector<Device>& devices, unsigned templateId, const wchar_t* caption,
                 std::size_t initial, std::size_t& chosen)
{
    if (devices.empty()) {
        core::SetLastErrorText("scanner: no device found");
        return SC_ERROR_NO_SOURCE;
    }
    HWND dialog = UiCrearFinestra(nullptr, 0, caption);
    HWND list = dialog ? UiCrearFinestra(dialog, SC_DLG_LIST, nullptr) : nullptr;
    if (!list) {
        if (dialog)
            UiDestruirFinestra(dialog);
        return SC_ERROR_LOW_MEMORY;
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const int at = UiListAfegir(list, Utf8ToWide(devices[i].name).c_str());
        if (at >= 0)
            UiListSetData(list, at, static_cast<std::intptr_t>(i));
    }
    UiListSetSel(list, initial < devices.size() ? static_cast<int>(initial) : 0);
    int result = SC_ERROR_CANCELLED;
    if (UiDoModal(dialog, templateId) == IDOK) {
        const int sel = UiListGetSel(list);
        const std::intptr_t data = sel >= 0 ? UiListGetData(list, sel) : -1;
        if (data >= 0 && static_cast<std::size_t>(data) < devices.size()) {
            chosen = static_cast<std::size_t>(data);
            result = SC_SUCCESS;
        }
    }
    UiDestruirFinestra(dialog);
    if (result == SC_ERROR_CANCELLED)
        core::SetLastErrorText("scanner: no device chosen");
    return result;
}

int CheckProperties(const _LTWAINPROPERTIES& p)
{
    const bool ok =
        p.nResolution >= 0 && p.nPixelType >= SC_PIXEL_DEFAULT && p.nPixelType <= SC_PIXEL_COLOUR &&
        (p.nBitDepth == 0 || p.nBitDepth == 1 || p.nBitDepth == 8 || p.nBitDepth == 16) &&
        p.nFeeder >= SC_FEEDER_DEFAULT && p.nFeeder <= SC_FEEDER_ADF;
    if (!ok) {
        core::SetLastErrorText("scanner: invalid scan properties");
        return SC_ERROR_INVALID_VALUE;
    }
    return SC_SUCCESS;
}

// ---- options ----------------------------------------------------------------------------------

int Scanner::Open(const std::string& name)
{
    if (m_handle && m_name == name)
        return SC_SUCCESS;
    Close();
    SaneLock lock;
    if (int st = lock.Status(); st != SC_SUCCESS)
        return st;
    struct Opened {
        SANE_Status status = SANE_STATUS_GOOD;
        SANE_Handle handle = nullptr;
    } opened;
    if (!RunBounded(
            [name] {
                Opened o;
                o.status = sane_open(name.c_str(), &o.handle);
                return o;
            },
            opened))
        return Busy("the device did not open in time");
    if (opened.status != SANE_STATUS_GOOD) {
        if (opened.status == SANE_STATUS_INVAL) {
            core::SetLastErrorTextF("scanner: no device named '%s'", name.c_str());
            return SC_ERROR_NO_SOURCE;
        }
        return FromSane(opened.status);
    }
    m_handle = opened.handle;
    m_name = name;
    return SC_SUCCESS;
}

void Scanner::Close()
{
    if (!m_handle)
        return;
    SaneLock lock;
    if (lock.Status() == SC_SUCCESS) {
        SANE_Handle h = m_handle;
        int unused = 0;
        RunBounded(
            [h] {
                sane_close(h);
                return 0;
            },
            unused);
    }
    // Without the lock the handle is dropped: SANE may be stuck in an abandoned call on it.
    m_handle = nullptr;
    m_name.clear();
}

int Scanner::OptionIndex(const char* name, const SANE_Option_Descriptor** desc)
{
    SANE_Int count = 0;
    if (sane_control_option(m_handle, 0, SANE_ACTION_GET_VALUE, &count, nullptr) !=
        SANE_STATUS_GOOD)
        return -1;
    for (SANE_Int i = 1; i < count; ++i) {
        const SANE_Option_Descriptor* d = sane_get_option_descriptor(m_handle, i);
        if (d && d->name && std::strcmp(d->name, name) == 0) {
            *desc = d;
            return i;
        }
    }
    return -1;
}

// Sets a numeric option (integer or fixed); the value must lie in the option's range.
int Scanner::SetNumber(const char* name, double value, bool millimetres)
{
    const SANE_Option_Descriptor* d = nullptr;
    const int index = OptionIndex(name, &d);
    if (index < 0 || !SANE_OPTION_IS_ACTIVE(d->cap) || !SANE_OPTION_IS_SETTABLE(d->cap) ||
        (d->type != SANE_TYPE_INT && d->type != SANE_TYPE_FIXED) || d->size < 1) {
        core::SetLastErrorTextF("scanner: the device has no settable '%s'", name);
        return SC_ERROR_UNSUPPORTED;
    }
    if (millimetres && d->unit != SANE_UNIT_MM) {
        core::SetLastErrorTextF("scanner: '%s' is not in millimetres", name);
        return SC_ERROR_UNSUPPORTED;
    }
    const bool fixed = d->type == SANE_TYPE_FIXED;
    auto toDouble = [fixed](SANE_Word w) { return fixed ? SANE_UNFIX(w) : double(w); };
    bool allowed = true;
    if (d->constraint_type == SANE_CONSTRAINT_RANGE && d->constraint.range) {
        allowed = value >= toDouble(d->constraint.range->min) - 1e-6 &&
                  value <= toDouble(d->constraint.range->max) + 1e-6;
    } else if (d->constraint_type == SANE_CONSTRAINT_WORD_LIST && d->constraint.word_list) {
        allowed = false;
        const SANE_Word* list = d->constraint.word_list;
        for (SANE_Int i = 1; i <= list[0]; ++i)
            allowed = allowed || std::abs(toDouble(list[i]) - value) < 1e-6;
    }
    if (!allowed) {
        core::SetLastErrorTextF("scanner: %g is outside the range of '%s'", value, name);
        return SC_ERROR_INVALID_VALUE;
    }
    std::vector<SANE_Word> words(static_cast<std::size_t>(d->size) / sizeof(SANE_Word) + 1);
    if (value > 2147483647.0 / (fixed ? 65536.0 : 1.0))
        return SC_ERROR_INVALID_VALUE;
    const SANE_Word w = fixed ? SANE_FIX(value) : static_cast<SANE_Word>(value + 0.5);
    std::fill(words.begin(), words.end(), w);
    SANE_Int info = 0;
    const SANE_Status s =
        sane_control_option(m_handle, index, SANE_ACTION_SET_VALUE, words.data(), &info);
    return s == SANE_STATUS_GOOD ? SC_SUCCESS : FromSane(s);
}

int Scanner::SetString(const char* name, const char* value)
{
    const SANE_Option_Descriptor* d = nullptr;
    const int index = OptionIndex(name, &d);
    if (index < 0 || d->type != SANE_TYPE_STRING || !SANE_OPTION_IS_SETTABLE(d->cap) ||
        !SANE_OPTION_IS_ACTIVE(d->cap) || d->size < 1) {
        core::SetLastErrorTextF("scanner: the device has no settable '%s'", name);
        return SC_ERROR_UNSUPPORTED;
    }
    const std::size_t bytes = static_cast<std::size_t>(d->size);
    if (std::strlen(value) + 1 > bytes)
        return SC_ERROR_INVALID_VALUE;
    std::vector<char> buffer(bytes, '\0');
    std::memcpy(buffer.data(), value, std::strlen(value));
    const SANE_Status s =
        sane_control_option(m_handle, index, SANE_ACTION_SET_VALUE, buffer.data(), nullptr);
    return s == SANE_STATUS_GOOD ? SC_SUCCESS : FromSane(s);
}

namespace {

// The first value of a string-list option containing one of the words (case-insensitive).
const char* PickString(const SANE_Option_Descriptor* d, std::initializer_list<const char*> words)
{
    if (!d || d->constraint_type != SANE_CONSTRAINT_STRING_LIST || !d->constraint.string_list)
        return nullptr;
    for (const char* word : words) {
        for (const SANE_String_Const* s = d->constraint.string_list; *s; ++s) {
            if (strcasestr(*s, word))
                return *s;
        }
    }
    return nullptr;
}

} // namespace

int Scanner::Configure(const _LTWAINPROPERTIES* props)
{
    if (!props || !m_handle)
        return m_handle ? SC_SUCCESS : SC_ERROR_BAD_PROTOCOL;
    SaneLock lock;
    if (int st = lock.Status(); st != SC_SUCCESS)
        return st;
    int st = SC_SUCCESS;
    const SANE_Option_Descriptor* d = nullptr;
    if (props->nFeeder != SC_FEEDER_DEFAULT) {
        OptionIndex(SANE_NAME_SCAN_SOURCE, &d);
        const char* v = props->nFeeder == SC_FEEDER_ADF
                            ? PickString(d, {"ADF", "Document Feeder", "Feeder"})
                            : PickString(d, {"Flatbed"});
        st = v ? SetString(SANE_NAME_SCAN_SOURCE, v) : SC_ERROR_UNSUPPORTED;
        if (st != SC_SUCCESS)
            return st;
    }
    if (props->nPixelType != SC_PIXEL_DEFAULT) {
        d = nullptr;
        OptionIndex(SANE_NAME_SCAN_MODE, &d);
        const char* v = nullptr;
        int depth = props->nBitDepth;
        if (props->nPixelType == SC_PIXEL_COLOUR)
            v = PickString(d, {"Color", "Colour"});
        else if (props->nPixelType == SC_PIXEL_GREY)
            v = PickString(d, {"Gray", "Grey"});
        else {
            v = PickString(d, {"Lineart", "Binary", "Halftone"});
            if (!v) {
                v = PickString(d, {"Gray", "Grey"});
                depth = 1;
            }
        }
        if (!v) {
            core::SetLastErrorText("scanner: the device has no such mode");
            return SC_ERROR_UNSUPPORTED;
        }
        if ((st = SetString(SANE_NAME_SCAN_MODE, v)) != SC_SUCCESS)
            return st;
        if (depth != 0 && (st = SetNumber(SANE_NAME_BIT_DEPTH, depth, false)) != SC_SUCCESS)
            return st;
    } else if (props->nBitDepth != 0) {
        if ((st = SetNumber(SANE_NAME_BIT_DEPTH, props->nBitDepth, false)) != SC_SUCCESS)
            return st;
    }
    if (props->nResolution > 0 &&
        (st = SetNumber(SANE_NAME_SCAN_RESOLUTION, props->nResolution, false)) != SC_SUCCESS)
        return st;
    if (props->dLeft >= 0 && props->dTop >= 0 && props->dRight > props->dLeft &&
        props->dBottom > props->dTop) {
        // Bottom-right first widens the area before the top-left moves into it.
        const std::pair<const char*, double> edges[] = {{SANE_NAME_SCAN_BR_X, props->dRight},
                                                        {SANE_NAME_SCAN_BR_Y, props->dBottom},
                                                        {SANE_NAME_SCAN_TL_X, props->dLeft},
                                                        {SANE_NAME_SCAN_TL_Y, props->dTop}};
        for (const auto& [name, value] : edges) {
            if ((st = SetNumber(name, value, true)) != SC_SUCCESS)
                return st;
        }
    }
    return SC_SUCCESS;
}

void Scanner::Describe(_LTWAINPROPERTIES& props)
{
    props.nMinResolution = props.nMaxResolution = 0;
    props.dMaxWidth = props.dMaxHeight = 0;
    SaneLock lock;
    if (!m_handle || lock.Status() != SC_SUCCESS)
        return;
    auto range = [this](const char* name, double& lo, double& hi) {
        const SANE_Option_Descriptor* d = nullptr;
        if (OptionIndex(name, &d) < 0 || d->constraint_type != SANE_CONSTRAINT_RANGE ||
            !d->constraint.range)
            return false;
        const bool fixed = d->type == SANE_TYPE_FIXED;
        lo = fixed ? SANE_UNFIX(d->constraint.range->min) : d->constraint.range->min;
        hi = fixed ? SANE_UNFIX(d->constraint.range->max) : d->constraint.range->max;
        return true;
    };
    double lo = 0, hi = 0;
    if (range(SANE_NAME_SCAN_RESOLUTION, lo, hi)) {
        props.nMinResolution = static_cast<std::int32_t>(std::clamp(lo, 0.0, 1e6));
        props.nMaxResolution = static_cast<std::int32_t>(std::clamp(hi, 0.0, 1e6));
    }
    if (range(SANE_NAME_SCAN_BR_X, lo, hi))
        props.dMaxWidth = hi;
    if (range(SANE_NAME_SCAN_BR_Y, lo, hi))
        props.dMaxHeight = hi;
}

bool Scanner::FeederSelected()
{
    SaneLock lock;
    const SANE_Option_Descriptor* d = nullptr;
    if (!m_handle || lock.Status() != SC_SUCCESS)
        return false;
    const int index = OptionIndex(SANE_NAME_SCAN_SOURCE, &d);
    if (index < 0 || d->type != SANE_TYPE_STRING || d->size < 1)
        return false;
    std::vector<char> value(static_cast<std::size_t>(d->size) + 1, '\0');
    if (sane_control_option(m_handle, index, SANE_ACTION_GET_VALUE, value.data(), nullptr) !=
        SANE_STATUS_GOOD)
        return false;
    return strcasestr(value.data(), "ADF") || strcasestr(value.data(), "Feeder");
}

// ---- scanning ---------------------------------------------------------------------------------

namespace {

// Cancels the scan on handle when no data has come for the timeout.
class Watchdog {
public:
    explicit Watchdog(SANE_Handle handle) : m_handle(handle)
    {
        try {
            m_thread = std::thread([this] { Run(); });
        } catch (...) {
        }
    }
    ~Watchdog()
    {
        {
            std::lock_guard<std::mutex> l(m_m);
            m_stop = true;
        }
        m_cv.notify_all();
        if (m_thread.joinable())
            m_thread.join();
    }
    void Progress() { m_progress.fetch_add(1, std::memory_order_relaxed); }
    bool Fired() const { return m_fired.load(); }

private:
    void Run()
    {
        std::unique_lock<std::mutex> l(m_m);
        std::uint64_t seen = m_progress.load();
        while (!m_stop) {
            if (m_cv.wait_for(l, Timeout(), [this] { return m_stop; }))
                return;
            const std::uint64_t now = m_progress.load();
            if (now == seen) {
                m_fired = true;
                sane_cancel(m_handle); // SANE allows cancelling from another thread
                return;
            }
            seen = now;
        }
    }
    SANE_Handle m_handle;
    std::mutex m_m;
    std::condition_variable m_cv;
    bool m_stop = false;
    std::atomic<std::uint64_t> m_progress{0};
    std::atomic<bool> m_fired{false};
    std::thread m_thread;
};

// Reads exactly bytes bytes (or to the end of the frame). SANE_STATUS_GOOD with got < bytes
// means the frame ended.
SANE_Status ReadFull(SANE_Handle h, std::uint8_t* buffer, std::size_t bytes, std::size_t& got,
                     Watchdog& dog)
{
    got = 0;
    while (got < bytes) {
        SANE_Int n = 0;
        const std::size_t want = std::min<std::size_t>(bytes - got, 1u << 20);
        const SANE_Status s = sane_read(h, buffer + got, static_cast<SANE_Int>(want), &n);
        if (s == SANE_STATUS_EOF)
            return SANE_STATUS_GOOD;
        if (s != SANE_STATUS_GOOD)
            return s;
        if (n < 0 || static_cast<std::size_t>(n) > want)
            return SANE_STATUS_IO_ERROR;
        got += static_cast<std::size_t>(n);
        dog.Progress();
    }
    return SANE_STATUS_GOOD;
}

// Largest scan this side holds: 2^20 pixels a side.
constexpr SANE_Int kMaxSide = 1 << 20;

} // namespace

int Scanner::ScanPage(ScRowConsumer& consumer, bool* noDocs)
{
    if (noDocs)
        *noDocs = false;
    if (!m_handle)
        return SC_ERROR_BAD_PROTOCOL;
    SaneLock lock;
    if (int st = lock.Status(); st != SC_SUCCESS)
        return st;
    Watchdog dog(m_handle);
    SANE_Handle h = m_handle;
    auto fail = [&](SANE_Status s) {
        sane_cancel(h);
        if (dog.Fired()) {
            core::SetLastErrorTextF("scanner: no data for %u ms", g_timeoutMs.load());
            return SC_ERROR_CANCELLED;
        }
        if (noDocs && s == SANE_STATUS_NO_DOCS)
            *noDocs = true;
        return FromSane(s);
    };
    auto failWith = [&](int code, const char* why) {
        sane_cancel(h);
        core::SetLastErrorTextF("scanner: %s", why);
        return code;
    };

    // The resolution, read before the start: options are not readable during a scan.
    SANE_Int res = 0;
    {
        const SANE_Option_Descriptor* d = nullptr;
        const int index = OptionIndex(SANE_NAME_SCAN_RESOLUTION, &d);
        if (index >= 0 && d->size >= static_cast<SANE_Int>(sizeof(SANE_Word))) {
            std::vector<SANE_Word> w(static_cast<std::size_t>(d->size) / sizeof(SANE_Word));
            if (sane_control_option(m_handle, index, SANE_ACTION_GET_VALUE, w.data(), nullptr) ==
                SANE_STATUS_GOOD)
                res = d->type == SANE_TYPE_FIXED ? SANE_Int(SANE_UNFIX(w[0]) + 0.5) : w[0];
        }
    }
    // Frames: one for grey or colour, three (red, green, blue) for three-pass colour.
    std::vector<std::uint8_t> planes; // three-pass samples, plane after plane
    SCSCANFORMAT format{};
    int framesSeen = 0;
    bool begun = false;
    std::vector<std::uint8_t> line;
    for (;;) {
        SANE_Status s = sane_start(h);
        if (s != SANE_STATUS_GOOD)
            return fail(s);
        dog.Progress();
        // Parameters only after the start: before it they may be estimates.
        SANE_Parameters p{};
        if ((s = sane_get_parameters(h, &p)) != SANE_STATUS_GOOD)
            return fail(s);
        const bool single = p.format == SANE_FRAME_GRAY || p.format == SANE_FRAME_RGB;
        const bool plane = p.format == SANE_FRAME_RED || p.format == SANE_FRAME_GREEN ||
                           p.format == SANE_FRAME_BLUE;
        if ((!single && !plane) || (p.depth != 1 && p.depth != 8 && p.depth != 16) ||
            (p.depth == 1 && p.format == SANE_FRAME_RGB) || (plane && p.depth == 1))
            return failWith(SC_ERROR_UNSUPPORTED, "unsupported frame format");
        if (p.pixels_per_line < 1 || p.pixels_per_line > kMaxSide || p.lines == 0 || p.lines < -1 ||
            p.lines > kMaxSide)
            return failWith(SC_ERROR_OPERATION, "the device reported an invalid size");
        const int channels = p.format == SANE_FRAME_RGB ? 3 : 1;
        const std::uint64_t rowBytes =
            p.depth == 1 ? (static_cast<std::uint64_t>(p.pixels_per_line) + 7) / 8
                         : static_cast<std::uint64_t>(p.pixels_per_line) * channels * (p.depth / 8);
        // Lines may carry bytes past their pixels (ppl-loss); never fewer.
        if (p.bytes_per_line < 0 || static_cast<std::uint64_t>(p.bytes_per_line) < rowBytes)
            return failWith(SC_ERROR_OPERATION, "the device reported an invalid line size");
        const std::size_t lineBytes = static_cast<std::size_t>(p.bytes_per_line);
        try {
            line.assign(lineBytes, 0);
        } catch (...) {
            return failWith(SC_ERROR_LOW_MEMORY, "no memory for a scan line");
        }
        if (plane) {
            if (p.lines < 0)
                return failWith(SC_ERROR_UNSUPPORTED, "three-pass scan of unknown height");
            const int index = p.format == SANE_FRAME_RED ? 0 : p.format == SANE_FRAME_GREEN ? 1 : 2;
            const std::uint64_t sampleBytes = p.depth / 8;
            const auto planeBytes = core::CheckedMul(rowBytes, static_cast<std::uint64_t>(p.lines));
            const auto all = planeBytes ? core::CheckedMul(*planeBytes, 3) : std::nullopt;
            if (!all || !core::FitsAllocation(*all))
                return failWith(SC_ERROR_LOW_MEMORY, "three-pass scan too large");
            if (framesSeen == 0) {
                format = {p.pixels_per_line,
                          p.lines,
                          3,
                          p.depth,
                          res,
                          res,
                          static_cast<std::uint32_t>(rowBytes * 3)};
                try {
                    planes.assign(static_cast<std::size_t>(*all), 0);
                } catch (...) {
                    return failWith(SC_ERROR_LOW_MEMORY, "no memory for a three-pass scan");
                }
            } else if (format.width != p.pixels_per_line || format.height != p.lines ||
                       format.bitsPerSample != p.depth) {
                return failWith(SC_ERROR_OPERATION, "three-pass frames differ in size");
            }
            for (SANE_Int y = 0; y < p.lines; ++y) {
                std::size_t got = 0;
                if ((s = ReadFull(h, line.data(), lineBytes, got, dog)) != SANE_STATUS_GOOD)
                    return fail(s);
                if (got < lineBytes)
                    break; // short frame: the rest stays black
                std::uint8_t* dst = planes.data() + static_cast<std::size_t>(index) * *planeBytes +
                                    static_cast<std::size_t>(y) * rowBytes;
                std::memcpy(dst, line.data(), static_cast<std::size_t>(rowBytes));
                (void)sampleBytes;
            }
            ++framesSeen;
            if (p.last_frame || framesSeen >= 3)
                break;
            continue;
        }
        // Single frame: rows go straight to the consumer.
        format = {p.pixels_per_line,
                  p.lines,
                  channels,
                  p.depth,
                  res,
                  res,
                  static_cast<std::uint32_t>(rowBytes)};
        if (consumer.Begin(format) != 1)
            return failWith(SC_ERROR_CANCELLED, "the scan was refused by its consumer");
        begun = true;
        for (SANE_Int y = 0; p.lines < 0 || y < p.lines; ++y) {
            std::size_t got = 0;
            if ((s = ReadFull(h, line.data(), lineBytes, got, dog)) != SANE_STATUS_GOOD)
                return fail(s);
            if (got < lineBytes)
                break; // end of the frame (a partial row is dropped)
            if (consumer.Row(line.data()) != 1)
                return failWith(SC_ERROR_CANCELLED, "the scan was stopped by its consumer");
            if (p.lines < 0 && y + 1 >= kMaxSide)
                return failWith(SC_ERROR_LOW_MEMORY, "hand scan longer than 2^20 rows");
        }
        break;
    }
    sane_cancel(h); // ends the page; the device is ready for the next one
    if (dog.Fired()) {
        core::SetLastErrorTextF("scanner: no data for %u ms", g_timeoutMs.load());
        return SC_ERROR_CANCELLED;
    }
    if (!begun) {
        // Three-pass: interleave the planes into rows.
        if (framesSeen < 3)
            return failWith(SC_ERROR_OPERATION, "three-pass scan ended early");
        if (consumer.Begin(format) != 1)
            return failWith(SC_ERROR_CANCELLED, "the scan was refused by its consumer");
        const std::size_t sampleBytes = static_cast<std::size_t>(format.bitsPerSample / 8);
        const std::size_t planeRow = format.bytesPerRow / 3;
        const std::size_t planeBytes = planeRow * static_cast<std::size_t>(format.height);
        std::vector<std::uint8_t> row(format.bytesPerRow);
        for (std::int32_t y = 0; y < format.height; ++y) {
            for (std::int32_t x = 0; x < format.width; ++x) {
                for (std::size_t c = 0; c < 3; ++c) {
                    const std::uint8_t* src = planes.data() + c * planeBytes +
                                              static_cast<std::size_t>(y) * planeRow +
                                              static_cast<std::size_t>(x) * sampleBytes;
                    std::memcpy(row.data() + (static_cast<std::size_t>(x) * 3 + c) * sampleBytes,
                                src, sampleBytes);
                }
            }
            if (consumer.Row(row.data()) != 1) {
                core::SetLastErrorText("scanner: the scan was stopped by its consumer");
                return SC_ERROR_CANCELLED;
            }
        }
    }
    return SC_SUCCESS;
}

// ---- bitmaps ----------------------------------------------------------------------------------

int BitmapBuilder::Begin(const SCSCANFORMAT& f)
{
    m_format = f;
    m_rows = 0;
    m_bits = f.bitsPerSample == 1 ? 1 : f.channels == 1 ? 8 : f.bitsPerSample == 16 ? 48 : 24;
    const auto line = core::CheckedLineSize(static_cast<std::uint64_t>(f.width), m_bits);
    if (!line) {
        m_status = SC_ERROR_LOW_MEMORY;
        return 0;
    }
    m_outBytes = *line;
    try {
        m_line.assign(static_cast<std::size_t>(m_outBytes), 0);
    } catch (...) {
        m_status = SC_ERROR_LOW_MEMORY;
        return 0;
    }
    RkFreeBitmap(m_bitmap);
    if (f.height < 0)
        return 1; // rows are held until the height is known
    tagRGBQUAD palette[256];
    for (int i = 0; i < 256; ++i) {
        const auto v = static_cast<std::uint8_t>(m_bits == 1 ? (i ? 255 : 0) : i);
        palette[i] = {v, v, v, 0};
    }
    const int r = RkCreateBitmap(m_bitmap, BITMAPHANDLE_SIZE, 0x201, f.width, f.height, m_bits,
                                 RK_ORDER_BGR, m_bits <= 8 ? palette : nullptr, RK_TOP_LEFT);
    if (r <= 0) {
        m_status = r == RK_ERROR_NO_MEMORY ? SC_ERROR_LOW_MEMORY : SC_ERROR_FAILURE;
        core::SetLastErrorText("scanner: no memory for the scanned image");
        return 0;
    }
    m_bitmap->XResolution = f.xDpi;
    m_bitmap->YResolution = f.yDpi;
    return 1;
}

// Device row -> bitmap row: 1 bit inverted (SANE: 1 black; palette: 0 black); grey as is (16
// bits: high byte); colour to blue-green-red.
int BitmapBuilder::Convert(const std::uint8_t* in, std::uint8_t* out) const
{
    const std::size_t w = static_cast<std::size_t>(m_format.width);
    if (m_bits == 1) {
        const std::size_t n = (w + 7) / 8;
        for (std::size_t i = 0; i < n; ++i)
            out[i] = static_cast<std::uint8_t>(~in[i]);
        return 1;
    }
    if (m_bits == 8) {
        if (m_format.bitsPerSample == 8) {
            std::memcpy(out, in, w);
        } else {
            for (std::size_t i = 0; i < w; ++i) {
                std::uint16_t v;
                std::memcpy(&v, in + i * 2, 2);
                out[i] = static_cast<std::uint8_t>(v >> 8);
            }
        }
        return 1;
    }
    if (m_bits == 24) {
        for (std::size_t i = 0; i < w; ++i) {
            out[i * 3] = in[i * 3 + 2];
            out[i * 3 + 1] = in[i * 3 + 1];
            out[i * 3 + 2] = in[i * 3];
        }
        return 1;
    }
    for (std::size_t i = 0; i < w; ++i) { // 48 bits, samples in host order
        std::memcpy(out + i * 6, in + i * 6 + 4, 2);
        std::memcpy(out + i * 6 + 2, in + i * 6 + 2, 2);
        std::memcpy(out + i * 6 + 4, in + i * 6, 2);
    }
    return 1;
}

int BitmapBuilder::Row(const std::uint8_t* row)
{
    if (m_format.height >= 0 && m_rows >= m_format.height)
        return 1; // more rows than announced: dropped
    Convert(row, m_line.data());
    if (m_format.height < 0) {
        const auto total = core::CheckedMul(m_outBytes, static_cast<std::uint64_t>(m_rows) + 1);
        if (!total || !core::FitsAllocation(*total, std::uint64_t(1) << 34)) {
            m_status = SC_ERROR_LOW_MEMORY;
            return 0;
        }
        try {
            m_held.insert(m_held.end(), m_line.begin(), m_line.end());
        } catch (...) {
            m_status = SC_ERROR_LOW_MEMORY;
            return 0;
        }
    } else if (RkPutBitmapRow(m_bitmap, m_line.data(), static_cast<int>(m_rows), m_outBytes) <= 0) {
        m_status = SC_ERROR_FAILURE;
        return 0;
    }
    ++m_rows;
    return 1;
}

int BitmapBuilder::Finish()
{
    if (m_status != SC_SUCCESS) {
        RkFreeBitmap(m_bitmap);
        return m_status;
    }
    if (m_rows == 0) {
        RkFreeBitmap(m_bitmap);
        core::SetLastErrorText("scanner: the scan delivered no rows");
        return SC_ERROR_OPERATION;
    }
    if (m_format.height < 0) {
        SCSCANFORMAT known = m_format;
        known.height = static_cast<std::int32_t>(m_rows);
        std::vector<std::uint8_t> held;
        held.swap(m_held);
        if (Begin(known) != 1)
            return m_status;
        for (std::int64_t y = 0; y < known.height; ++y) {
            if (RkPutBitmapRow(m_bitmap, held.data() + static_cast<std::size_t>(y) * m_outBytes,
                               static_cast<int>(y), m_outBytes) <= 0) {
                RkFreeBitmap(m_bitmap);
                return SC_ERROR_FAILURE;
            }
        }
    } else if (m_rows < m_format.height) {
        // The device ended early: keep the rows that came.
        if (RkCropBitmap(m_bitmap, 0, 0, m_format.width, static_cast<int>(m_rows)) <= 0) {
            RkFreeBitmap(m_bitmap);
            return SC_ERROR_FAILURE;
        }
    }
    return SC_SUCCESS;
}

std::uint32_t SetTimeoutMs(std::uint32_t ms)
{
    return g_timeoutMs.exchange(ms ? ms : 60000);
}

} // namespace scan

ScRowConsumer::~ScRowConsumer() = default;

std::uint32_t ScSetTimeoutMs(std::uint32_t ms)
{
    return scan::SetTimeoutMs(ms);
}
