// twain_settings.cpp - per-user acquisition settings of the scanner sources in the settings
// store: "Software\Corvane\Twain" and one sub-key per source.
#include "acquire_internal.h"

#include <base/registry.h>
#include <string>

namespace {

constexpr const wchar_t* kClau = L"Software\\Corvane\\Twain";

// A source name as one key segment: the store splits key paths at backslashes only, so a
// backslash in the name becomes '_' (':' and '/' of SANE names stay as they are).
std::wstring Segment(const wchar_t* source)
{
    std::wstring s = source ? source : L"";
    for (wchar_t& c : s) {
        if (c == L'\\')
            c = L'_';
    }
    return s;
}

void LlegirValors(TCarpetaRegistry& key, DIB_CFGTWAIN& c)
{
    key.TornaValor(L"EnableUI", c.EnableUI, c.EnableUI);
    key.TornaValor(L"ShowStatus", c.ShowStatus, c.ShowStatus);
    key.TornaValor(L"NativeXfer", c.NativeXfer, c.NativeXfer);
    key.TornaValor(L"KeepOpen", c.KeepOpen, c.KeepOpen);
}

} // namespace

int TDib::GetConfigTwain(const wchar_t* source, DIB_CFGTWAIN& settings)
{
    settings = DIB_CFGTWAIN{};
    TCarpetaRegistry general(HKEY_CURRENT_USER, kClau);
    if (general.Obrir(0)) {
        LlegirValors(general, settings);
        general.Tancar();
    }
    if (source && *source) {
        const std::wstring name = Segment(source);
        TCarpetaRegistry own(general, name.c_str());
        if (own.Obrir(0)) {
            LlegirValors(own, settings);
            own.Tancar();
        }
    }
    return 1;
}

int TDib::SetConfigTwain(const wchar_t* source, const DIB_CFGTWAIN& settings)
{
    TCarpetaRegistry general(HKEY_CURRENT_USER, kClau);
    const std::wstring name = Segment(source);
    TCarpetaRegistry key(general, name.c_str());
    if (!key.Obrir(1))
        return 0;
    key.EntraValor(L"EnableUI", static_cast<std::uint32_t>(settings.EnableUI));
    key.EntraValor(L"ShowStatus", static_cast<std::uint32_t>(settings.ShowStatus));
    key.EntraValor(L"NativeXfer", static_cast<std::uint32_t>(settings.NativeXfer));
    key.EntraValor(L"KeepOpen", static_cast<std::uint32_t>(settings.KeepOpen));
    // A commit that did not reach the store is a failure, not a success.
    return key.Tancar() ? 1 : 0;
}
