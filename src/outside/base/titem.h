// titem.h - the root of the library's serialisable objects and their run-time type records.
//
// Every class derived from TItem owns one static CMosaRTTI naming the class and linking to the
// record of its parent class; GetRTTI() returns it, so a host can ask what an item is without
// C++ RTTI crossing the shared-library boundary.
#pragma once

#include "../outside_api.h"

#include <cstdio>

// Run-time type record: a class name and a link to the parent class's record.
// Records are constant-initialised (constexpr constructor), so a record may name another
// translation unit's record as its parent without any static-initialisation order problem.
class OUTSIDE_API CMosaRTTI {
public:
    constexpr explicit CMosaRTTI(const char* name, const CMosaRTTI* parent = nullptr)
        : m_name(name ? name : ""), m_parent(parent)
    {
    }

    const char* GetName() const { return m_name; }
    const CMosaRTTI* GetParent() const { return m_parent; }
    // Links this record to its parent class's record (done once when the module is loaded).
    void SetParent(const CMosaRTTI* parent) { m_parent = parent; }

    // True when this record is base itself or one of its descendants. Null base: false.
    // A cycle in the parent links (a misuse of SetParent) ends the walk instead of looping.
    bool IsDerivedFrom(const CMosaRTTI* base) const;

private:
    const char* m_name;
    const CMosaRTTI* m_parent;
};

// Root of serialisable objects.
//
// The base holds no data, so its answers are those of an object without content:
// - Duplicar: null (a class that can be copied overrides it; the base never slices).
// - EsBuit: 1.
// - Iguals: 1 only when other is this very object (identity); null gives 0. Two distinct items
//   are never declared equal by the base, whatever their type: a class with content overrides
//   Iguals to compare it.
// - Comparar: a total order usable for sorting: 0 for the same object; a null other sorts
//   first (result 1); items of different classes are ordered by class name; items of the same
//   class by address. Negative, 0 or positive like strcmp.
// - Guardar / Llegir: nothing to store; 0 (success) with a stream, -3 with a null stream.
class OUTSIDE_API TItem {
public:
    TItem() = default;
    TItem(const TItem&) = default;
    TItem& operator=(const TItem&) = default;
    virtual ~TItem();

    virtual TItem* Duplicar() const;
    virtual CMosaRTTI* GetRTTI() const;
    virtual int EsBuit() const;
    virtual int Iguals(const TItem* other) const;
    virtual int Comparar(const TItem* other) const;
    virtual int Guardar(FILE* stream) const;
    virtual int Llegir(FILE* stream);

    // Convenience: GetRTTI()->IsDerivedFrom(rtti).
    bool EsDe(const CMosaRTTI* rtti) const;

    static CMosaRTTI m_rttiTItem;
};
