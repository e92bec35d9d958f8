// file_info_text.cpp - the labelled, readable description of a file.
//
// Contents
//   FormatName                              the display name of a kernel format number
//   TDib::GetInfoFitxer (CInfoFitxerDIB&)   format name and labelled lines
//   TDib::GetInfoFitxer (CString&)          the same as one text
#include "format_families.h"
#include "format_name.h"

#include <base/texts.h>
#include <dib/FileInfo.h>
#include <dib/TDib.h>
#include <dib/internal/library_module.h>

namespace dib {

CString FormatName(int format)
{
    LibraryModule();
    unsigned int id = 0;
    switch (format) {
    case 1:
        id = 22010;
        break;
    case 2:
        id = 22005;
        break;
    case 3:
    case 85:
        id = 22003;
        break;
    case 4:
        id = 22012;
        break;
    case 5:
        id = 22006;
        break;
    case 6:
        id = 22007;
        break;
    case 10:
        id = 22013;
        break;
    case 11:
        id = 22016;
        break;
    case 17:
    case 86:
        id = 22001;
        break;
    case 21:
        id = 22015;
        break;
    case 22:
        id = 22018;
        break;
    case 23:
        id = 22014;
        break;
    case 24:
        id = 22017;
        break;
    case 57:
        id = 22009;
        break;
    case 76:
        id = 22011;
        break;
    case 84:
        id = 22008;
        break;
    default:
        if (IsJpegFamily(format))
            return CString(L"JPEG");
        if (IsTiffFamily(format))
            id = 22001;
        break;
    }
    if (id != 0)
        return CString(AfxLoadString(id));
    CString unknown;
    unknown.Format(AfxLoadString(22019).c_str(), format);
    return unknown;
}

} // namespace dib

int TDib::GetInfoFitxer(const wchar_t* path, CInfoFitxerDIB& info)
{
    const int status = GetInfoFitxer(path, 0, &info.m_info);
    if (status < 0)
        return status;
    dib::LibraryModule();
    const CFILEINFO& f = info.m_info;
    info.m_nomFormat = dib::FormatName(f.Format);

    switch (f.ColorSpace) {
    case DIB_CS_CMYK:
        info.AfegirInfo(22045, L"CMYK");
        break;
    case DIB_CS_LAB:
        info.AfegirInfo(22045, L"Lab");
        break;
    case DIB_CS_RGB:
        info.AfegirInfo(22045, L"RGB");
        break;
    case DIB_CS_MULTICHANNEL:
    case DIB_CS_GREY:
    case DIB_CS_MONO: {
        const unsigned int id = f.ColorSpace == DIB_CS_MULTICHANNEL ? 22046
                                : f.ColorSpace == DIB_CS_GREY       ? 22047
                                                                    : 22048;
        info.AfegirInfo(22045, AfxLoadString(id).c_str());
        break;
    }
    default:
        break;
    }
    if (f.Indexed)
        info.AfegirInfo(L"Indexed", L"Yes");
    CString value;
    value.Format(L"%i x %i pxl", f.Width, f.Height);
    info.AfegirInfo(22020, value);
    value.Format(L"%i (%i x %i)", f.BitsPerPixel, int(f.Channels), int(f.BitsPerChannel));
    info.AfegirInfo(22022, value);
    value.Format(L"%.2f x %.2f dpi", f.XResolution, f.YResolution);
    info.AfegirInfo(22021, value);
    if (f.AlphaChannel >= 1) {
        value.Format(L"%i", f.AlphaChannel + 1);
        info.AfegirInfo(L"Transparency channel", value);
    }
    return DIB_OK;
}

int TDib::GetInfoFitxer(const wchar_t* path, CString& text)
{
    CInfoFitxerDIB info;
    const int status = GetInfoFitxer(path, info);
    if (status < 0)
        return status;
    CString result = info.m_nomFormat;
    for (int i = 0; i < info.m_etiquetes.GetCount(); ++i) {
        if (!result.IsEmpty())
            result += L"\r\n";
        result.AppendFormat(L"%s: %s", info.m_etiquetes.Get(i), info.m_valors.Get(i));
    }
    text = result;
    return DIB_OK;
}
