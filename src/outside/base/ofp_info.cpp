// ofp_info.cpp - OFP_INFO answers.
#include "base/ofp_info.h"

OFP_INFO::OFP_INFO() = default;
OFP_INFO::~OFP_INFO() = default;

void OFP_INFO::SetInfo(const wchar_t* text)
{
    m_info = text ? text : L"";
}

void OFP_INFO::SetPreview(CBitmap* bitmap)
{
    if (bitmap != m_preview.get())
        m_preview.reset(bitmap);
}
