// ui.cpp - the user-interface sink, message boxes and the window records.
#include "base/ui.h"

#include "base/registry.h"
#include "base/texts.h"
#include "win/files.h"

#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace {

std::atomic<TInterficieUsuari*> g_sink{nullptr};

struct Item {
    std::wstring text;
    std::intptr_t data = 0;
};

struct Window {
    HWND parent = nullptr;
    int id = 0;
    std::wstring text;
    std::vector<Item> items;
    int selection = LB_ERR;
};

std::mutex g_mutex;
std::map<HWND, Window> g_windows;
std::uintptr_t g_next = 0x10000;

// Caller holds g_mutex.
Window* Find(HWND h)
{
    auto it = g_windows.find(h);
    return it == g_windows.end() ? nullptr : &it->second;
}

void DestroyLocked(HWND h)
{
    std::vector<HWND> children;
    for (const auto& [child, w] : g_windows) {
        if (w.parent == h)
            children.push_back(child);
    }
    for (HWND c : children)
        DestroyLocked(c);
    g_windows.erase(h);
}

} // namespace

TInterficieUsuari::~TInterficieUsuari() = default;
INT_PTR TInterficieUsuari::RunDialog(HWND, UINT)
{
    return IDCANCEL;
}
void TInterficieUsuari::TextCanviat(HWND, const wchar_t*) {}

TInterficieUsuari* SetInterficieUsuari(TInterficieUsuari* sink)
{
    return g_sink.exchange(sink);
}

TInterficieUsuari* GetInterficieUsuari()
{
    return g_sink.load();
}

int RespostaPerDefecte(UINT type)
{
    static const std::vector<int> kButtons[] = {
        {IDOK},
        {IDOK, IDCANCEL},
        {IDABORT, IDRETRY, IDIGNORE},
        {IDYES, IDNO, IDCANCEL},
        {IDYES, IDNO},
        {IDRETRY, IDCANCEL},
        {IDCANCEL, IDTRYAGAIN, IDCONTINUE},
    };
    const UINT kind = type & MB_TYPEMASK;
    const std::vector<int>& buttons = kind < 7 ? kButtons[kind] : kButtons[0];
    const std::size_t def = (type & MB_DEFMASK) >> 8;
    return def < buttons.size() ? buttons[def] : buttons[0];
}

int AfxMosaMessageBox(const wchar_t* text, UINT type, UINT helpId, const wchar_t* caption)
{
    try {
        const std::wstring cap =
            caption ? std::wstring(caption) : TCarpetaRegistry::GetNomAplicacio();
        if (TInterficieUsuari* sink = g_sink.load())
            return sink->MessageBox(text ? text : L"", cap.c_str(), type, helpId);
        std::wstring line = cap + L": " + (text ? text : L"");
        for (wchar_t& c : line) {
            if (c == L'\r' || c == L'\n')
                c = L' ';
        }
        std::fprintf(stderr, "%s\n", WideToUtf8(line).c_str());
    } catch (const std::exception&) {
    }
    return RespostaPerDefecte(type);
}

int AfxMosaMessageBox(UINT textId, UINT type, UINT helpId, const wchar_t* caption)
{
    return AfxMosaMessageBox(AfxLoadString(textId).c_str(), type, helpId, caption);
}

HWND UiCrearFinestra(HWND parent, int controlId, const wchar_t* text)
{
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (parent && !Find(parent))
            return nullptr;
        HWND h = reinterpret_cast<HWND>(g_next);
        g_next += 16;
        Window w;
        w.parent = parent;
        w.id = controlId;
        w.text = text ? text : L"";
        g_windows.emplace(h, std::move(w));
        return h;
    } catch (const std::exception&) {
        return nullptr;
    }
}

BOOL UiDestruirFinestra(HWND window)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!Find(window))
        return FALSE;
    DestroyLocked(window);
    return TRUE;
}

HWND UiGetDlgItem(HWND dialog, int controlId)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!dialog)
        return nullptr;
    for (const auto& [h, w] : g_windows) {
        if (w.parent == dialog && w.id == controlId)
            return h;
    }
    return nullptr;
}

BOOL UiSetText(HWND window, const wchar_t* text)
{
    std::wstring copy;
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        Window* w = Find(window);
        if (!w)
            return FALSE;
        w->text = text ? text : L"";
        copy = w->text;
    } catch (const std::exception&) {
        return FALSE;
    }
    // Outside the lock: the sink may read windows back.
    if (TInterficieUsuari* sink = g_sink.load())
        sink->TextCanviat(window, copy.c_str());
    return TRUE;
}

std::wstring UiGetText(HWND window)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const Window* w = Find(window);
    return w ? w->text : std::wstring();
}

BOOL AfxSetWindowText(HWND window, UINT textId)
{
    CString text;
    if (!AfxLoadString(textId, text))
        return FALSE;
    return UiSetText(window, text);
}

BOOL AfxSetDlgItemText(HWND dialog, int controlId, UINT textId)
{
    HWND item = UiGetDlgItem(dialog, controlId);
    return item ? AfxSetWindowText(item, textId) : FALSE;
}

int UiListAfegir(HWND list, const wchar_t* text)
{
    try {
        std::lock_guard<std::mutex> lock(g_mutex);
        Window* w = Find(list);
        if (!w)
            return LB_ERR;
        w->items.push_back({text ? text : L"", 0});
        return static_cast<int>(w->items.size()) - 1;
    } catch (const std::exception&) {
        return LB_ERR;
    }
}

int UiListBuidar(HWND list)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* w = Find(list);
    if (!w)
        return LB_ERR;
    w->items.clear();
    w->selection = LB_ERR;
    return 0;
}

int UiListCount(HWND list)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const Window* w = Find(list);
    return w ? static_cast<int>(w->items.size()) : LB_ERR;
}

namespace {
// Caller holds g_mutex.
Item* ItemAt(HWND list, int index)
{
    Window* w = Find(list);
    if (!w || index < 0 || static_cast<std::size_t>(index) >= w->items.size())
        return nullptr;
    return &w->items[static_cast<std::size_t>(index)];
}
} // namespace

std::wstring UiListText(HWND list, int index)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const Item* it = ItemAt(list, index);
    return it ? it->text : std::wstring();
}

int UiListSetData(HWND list, int index, std::intptr_t data)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Item* it = ItemAt(list, index);
    if (!it)
        return LB_ERR;
    it->data = data;
    return 0;
}

std::intptr_t UiListGetData(HWND list, int index)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const Item* it = ItemAt(list, index);
    return it ? it->data : LB_ERR;
}

int UiListSetSel(HWND list, int index)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    Window* w = Find(list);
    if (!w)
        return LB_ERR;
    if (index == -1) {
        w->selection = LB_ERR;
        return 0;
    }
    if (index < 0 || static_cast<std::size_t>(index) >= w->items.size())
        return LB_ERR;
    w->selection = index;
    return index;
}

int UiListGetSel(HWND list)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const Window* w = Find(list);
    return w ? w->selection : LB_ERR;
}

INT_PTR UiDoModal(HWND dialog, UINT templateId)
{
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        if (!Find(dialog))
            return IDCANCEL;
    }
    TInterficieUsuari* sink = g_sink.load();
    return sink ? sink->RunDialog(dialog, templateId) : IDCANCEL;
}
