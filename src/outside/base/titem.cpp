// titem.cpp - TItem base behaviour and CMosaRTTI ancestry.
#include "base/titem.h"

#include <cstring>
#include <functional>

constinit CMosaRTTI TItem::m_rttiTItem("TItem", nullptr);

bool CMosaRTTI::IsDerivedFrom(const CMosaRTTI* base) const
{
    if (!base)
        return false;
    // Bounded walk: class hierarchies are shallow, and a corrupted link must not hang the host.
    const CMosaRTTI* r = this;
    for (int depth = 0; r && depth < 256; ++depth, r = r->m_parent) {
        if (r == base)
            return true;
    }
    return false;
}

TItem::~TItem() = default;

TItem* TItem::Duplicar() const
{
    return nullptr;
}

CMosaRTTI* TItem::GetRTTI() const
{
    return &m_rttiTItem;
}

int TItem::EsBuit() const
{
    return 1;
}

int TItem::Iguals(const TItem* other) const
{
    return other == this ? 1 : 0;
}

int TItem::Comparar(const TItem* other) const
{
    if (other == this)
        return 0;
    if (!other)
        return 1;
    const CMosaRTTI* a = GetRTTI();
    const CMosaRTTI* b = other->GetRTTI();
    if (a != b) {
        int c = std::strcmp(a ? a->GetName() : "", b ? b->GetName() : "");
        if (c != 0)
            return c < 0 ? -1 : 1;
    }
    return std::less<const TItem*>()(this, other) ? -1 : 1;
}

int TItem::Guardar(FILE* stream) const
{
    return stream ? 0 : -3;
}

int TItem::Llegir(FILE* stream)
{
    return stream ? 0 : -3;
}

bool TItem::EsDe(const CMosaRTTI* rtti) const
{
    const CMosaRTTI* mine = GetRTTI();
    return mine && mine->IsDerivedFrom(rtti);
}
