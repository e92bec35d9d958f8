// open_file_pane.cpp - _ofpGetInfoFitxerDIB: the description and preview of a file for the
// information pane of a file-open dialog.
#include <core/last_error.h>
#include <dib/Preview.h>
#include <dib/TDib.h>
#include <memory>
#include <new>

int _ofpGetInfoFitxerDIB(OFP_INFO* info)
{
    if (info == nullptr)
        return 0;
    const wchar_t* path = info->m_strPath;
    if (!TDib::TestFitxer(path))
        return 0;
    if (info->m_flags & OFP_INFO::OFP_DESCRIPTION) {
        CString text;
        if (TDib::GetInfoFitxer(path, text) >= 0)
            info->SetInfo(text);
    }
    if (!(info->m_flags & OFP_INFO::OFP_PREVIEW))
        return 1;

    TDib* made = nullptr;
    const RECT& rc = info->m_rcPreview;
    const int r = TDib::GetPreview(path, rc.right - rc.left, rc.bottom - rc.top, 0xFFFFFF, made,
                                   info->m_pProgress, nullptr);
    std::unique_ptr<TDib> preview(made);
    if (r < 0 || !preview)
        return 0;
    const HBITMAP ddb = preview->ExportToDDB(1);
    if (ddb == nullptr)
        return 0;
    std::unique_ptr<CBitmap> bitmap(new (std::nothrow) CBitmap());
    if (!bitmap || !bitmap->Attach(ddb)) {
        DeleteObject(ddb);
        core::SetLastErrorText("no memory for the preview bitmap");
        return 0;
    }
    info->SetPreview(bitmap.release());
    return 1;
}
