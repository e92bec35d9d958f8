// ofp_info.h - the information pane record of a file-open dialog.
//
// The host fills the request (path, what it wants, the preview rectangle, a progress
// indicator), hands the record to the library, and reads back the description and the preview
// bitmap. SetInfo and SetPreview are the hooks through which the answer arrives: a host may
// override them (calling these to keep the stored answer, or not).
#pragma once

#include "../outside_api.h"
#include "../win/afx.h"
#include "../win/windef.h"

#include <memory>

class TIndicadorEstat;

class OUTSIDE_API OFP_INFO {
public:
    // Bits of m_flags.
    enum : BYTE {
        OFP_PREVIEW = 0x01,     // a preview bitmap is wanted
        OFP_DESCRIPTION = 0x02, // a description is wanted
    };

    OFP_INFO();
    virtual ~OFP_INFO();
    OFP_INFO(const OFP_INFO&) = delete;
    OFP_INFO& operator=(const OFP_INFO&) = delete;

    // ---- request (filled by the host) ----
    CString m_strPath;                      // the file
    BYTE m_flags = 0;                       // OFP_PREVIEW | OFP_DESCRIPTION
    RECT m_rcPreview{0, 0, 0, 0};           // the preview area (left, top, right, bottom)
    TIndicadorEstat* m_pProgress = nullptr; // may be null; not owned

    // ---- answer (filled by the library) ----
    // Sets the description text (null: empty).
    virtual void SetInfo(const wchar_t* text);
    // Takes over bitmap (deleting any previous one); null clears the preview. An override
    // takes the bitmap over too.
    virtual void SetPreview(CBitmap* bitmap);

    const CString& GetInfo() const { return m_info; }
    // The preview, still owned by the record; null when none.
    CBitmap* GetPreview() const { return m_preview.get(); }
    // Hands the preview over to the caller, who deletes it.
    CBitmap* DetachPreview() { return m_preview.release(); }

private:
    CString m_info;
    std::unique_ptr<CBitmap> m_preview;
};
