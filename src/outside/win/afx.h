// afx.h - MFC-shaped classes on the standard library: CString (wide), CPoint, CSize, CRect,
// CList, CMap, the exception root with CMemoryException, and the device-context and bitmap
// wrappers CGdiObject, CBitmap, CBrush, CDC, CClientDC.
//
// Contents
//   exceptions      CException, CMemoryException, AfxThrowMemoryException
//   CString         wide string with printf-style Format
//   CPoint, CSize, CRect
//   CList           doubly linked list addressed by POSITION
//   CMap            hash map whose iteration order follows its buckets, as MFC's does
//   GDI wrappers    CGdiObject, CBitmap, CBrush, CDC, CClientDC
#pragma once

#include "../outside_api.h"
#include "gdi.h"
#include "windef.h"

#include <cstdarg>
#include <cstddef>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

// ---- exceptions ---------------------------------------------------------------------------

// MFC throws exceptions by pointer. A handler calls Delete() on what it catches; the memory
// exception is one static object, so its Delete() does nothing.
class OUTSIDE_API CException {
public:
    explicit CException(bool autoDelete = true) : m_bAutoDelete(autoDelete) {}
    virtual ~CException();
    void Delete();

protected:
    bool m_bAutoDelete;
};

class OUTSIDE_API CMemoryException : public CException {
public:
    CMemoryException() : CException(false) {}
};

// Throws a pointer to the process-wide CMemoryException: catch (CMemoryException* e).
[[noreturn]] OUTSIDE_API void AfxThrowMemoryException();

// ---- CString ------------------------------------------------------------------------------

class OUTSIDE_API CString {
public:
    CString() = default;
    CString(const wchar_t* text) : s_(text ? text : L"") {}
    CString(const wchar_t* text, int length);
    CString(const std::wstring& text) : s_(text) {}
    CString(std::wstring_view text) : s_(text) {}
    CString(wchar_t ch, int repeat = 1) : s_(repeat > 0 ? std::size_t(repeat) : 0, ch) {}
    // Narrow text is taken as UTF-8.
    explicit CString(const char* utf8);

    int GetLength() const { return static_cast<int>(s_.size()); }
    bool IsEmpty() const { return s_.empty(); }
    void Empty() { s_.clear(); }
    const wchar_t* GetString() const { return s_.c_str(); }
    operator const wchar_t*() const { return s_.c_str(); }
    const std::wstring& str() const { return s_; }

    // An index outside the string reads as L'\0' and is not written.
    wchar_t GetAt(int index) const
    {
        return index >= 0 && std::size_t(index) < s_.size() ? s_[std::size_t(index)] : L'\0';
    }
    void SetAt(int index, wchar_t ch)
    {
        if (index >= 0 && std::size_t(index) < s_.size())
            s_[std::size_t(index)] = ch;
    }
    wchar_t operator[](int index) const { return GetAt(index); }

    CString& operator=(const wchar_t* text);
    CString& operator=(wchar_t ch);
    CString& operator+=(const CString& other);
    CString& operator+=(const wchar_t* text);
    CString& operator+=(wchar_t ch);

    // 0 when equal, < 0 or > 0 as wcscmp; NoCase folds with towlower.
    int Compare(const wchar_t* other) const;
    int CompareNoCase(const wchar_t* other) const;

    // Sub-strings; counts and starts are clamped to the string.
    CString Left(int count) const;
    CString Mid(int first) const;
    CString Mid(int first, int count) const;
    CString Right(int count) const;

    // Zero-based index of the first match at or after start; -1 when absent.
    int Find(wchar_t ch, int start = 0) const;
    int Find(const wchar_t* sub, int start = 0) const;
    int ReverseFind(wchar_t ch) const;
    int FindOneOf(const wchar_t* chars) const;

    CString& MakeUpper();
    CString& MakeLower();
    CString& MakeReverse();
    CString& Trim();
    CString& TrimLeft();
    CString& TrimRight();
    CString& Trim(wchar_t ch);
    CString& TrimLeft(wchar_t ch);
    CString& TrimRight(wchar_t ch);
    // Number of replacements made.
    int Replace(wchar_t from, wchar_t to);
    int Replace(const wchar_t* from, const wchar_t* to);
    // New length.
    int Insert(int index, wchar_t ch);
    int Insert(int index, const wchar_t* text);
    int Delete(int index, int count = 1);
    int Remove(wchar_t ch);

    // printf-style formatting with a wide format. As in MFC's wide strings, %s and %c take wide
    // arguments (wchar_t*, wchar_t) and %S and %C narrow ones; %hs/%hc are narrow and %ls/%lc
    // wide; %I64d/%I64u/%I64x are 64-bit. Narrow arguments are UTF-8 whatever the process
    // locale. A format that cannot be produced (ill-formed UTF-8 in a narrow argument, a result
    // beyond 16M characters) leaves the string empty.
    void Format(const wchar_t* format, ...);
    void FormatV(const wchar_t* format, va_list args);
    void AppendFormat(const wchar_t* format, ...);

    // A writable buffer of at least minLength characters plus a null; ReleaseBuffer(-1) takes
    // the length up to the first null, ReleaseBuffer(n) keeps n characters.
    wchar_t* GetBuffer(int minLength = 0);
    wchar_t* GetBufferSetLength(int length);
    void ReleaseBuffer(int newLength = -1);

    // Loads string id from the string tables of the module chain (see AfxSetStringLoader).
    // FALSE, leaving the string unchanged, when no table holds it.
    BOOL LoadString(UINT id);

private:
    std::wstring s_;
};

// Replaceable source of string-table texts: called by CString::LoadString; returns true and
// fills text when the string exists. The default loader reads RT_STRING resources in the
// Windows layout (block id / 16 + 1 holds 16 strings, each a 16-bit length and that many
// UTF-16LE units) from AfxFindResourceHandle's module. Null restores the default.
using AfxStringLoader = bool (*)(UINT id, std::wstring& text);
OUTSIDE_API void AfxSetStringLoader(AfxStringLoader loader);

OUTSIDE_API CString operator+(const CString& a, const CString& b);
OUTSIDE_API CString operator+(const CString& a, const wchar_t* b);
OUTSIDE_API CString operator+(const wchar_t* a, const CString& b);
OUTSIDE_API CString operator+(const CString& a, wchar_t b);
OUTSIDE_API CString operator+(wchar_t a, const CString& b);
inline bool operator==(const CString& a, const CString& b)
{
    return a.str() == b.str();
}
inline bool operator==(const CString& a, const wchar_t* b)
{
    return a.Compare(b) == 0;
}
inline bool operator==(const wchar_t* a, const CString& b)
{
    return b.Compare(a) == 0;
}
inline bool operator!=(const CString& a, const CString& b)
{
    return !(a == b);
}
inline bool operator!=(const CString& a, const wchar_t* b)
{
    return !(a == b);
}
inline bool operator!=(const wchar_t* a, const CString& b)
{
    return !(a == b);
}
inline bool operator<(const CString& a, const CString& b)
{
    return a.str() < b.str();
}
inline bool operator>(const CString& a, const CString& b)
{
    return b < a;
}
inline bool operator<=(const CString& a, const CString& b)
{
    return !(b < a);
}
inline bool operator>=(const CString& a, const CString& b)
{
    return !(a < b);
}

using CStringW = CString;

// ---- CPoint, CSize, CRect -----------------------------------------------------------------

class CSize;

class CPoint : public tagPOINT {
public:
    CPoint() : tagPOINT{0, 0} {}
    CPoint(int x0, int y0) : tagPOINT{x0, y0} {}
    CPoint(const POINT& p) : tagPOINT(p) {}
    void Offset(int dx, int dy)
    {
        x += dx;
        y += dy;
    }
    void SetPoint(int x0, int y0)
    {
        x = x0;
        y = y0;
    }
    bool operator==(const POINT& p) const { return x == p.x && y == p.y; }
    bool operator!=(const POINT& p) const { return !(*this == p); }
    CPoint operator+(const POINT& p) const { return CPoint(x + p.x, y + p.y); }
    CPoint operator-(const POINT& p) const { return CPoint(x - p.x, y - p.y); }
    CPoint operator-() const { return CPoint(-x, -y); }
    CPoint& operator+=(const POINT& p)
    {
        Offset(p.x, p.y);
        return *this;
    }
    CPoint& operator-=(const POINT& p)
    {
        Offset(-p.x, -p.y);
        return *this;
    }
};

class CSize : public tagSIZE {
public:
    CSize() : tagSIZE{0, 0} {}
    CSize(int cx0, int cy0) : tagSIZE{cx0, cy0} {}
    CSize(const SIZE& s) : tagSIZE(s) {}
    bool operator==(const SIZE& s) const { return cx == s.cx && cy == s.cy; }
    bool operator!=(const SIZE& s) const { return !(*this == s); }
    CSize operator+(const SIZE& s) const { return CSize(cx + s.cx, cy + s.cy); }
    CSize operator-(const SIZE& s) const { return CSize(cx - s.cx, cy - s.cy); }
    CSize operator-() const { return CSize(-cx, -cy); }
    CSize& operator+=(const SIZE& s)
    {
        cx += s.cx;
        cy += s.cy;
        return *this;
    }
    CSize& operator-=(const SIZE& s)
    {
        cx -= s.cx;
        cy -= s.cy;
        return *this;
    }
};

// A rectangle: left and top inside, right and bottom one past the last column and row (as GDI
// uses it; some callers store inclusive maxima in it instead, which CRect does not judge).
class OUTSIDE_API CRect : public tagRECT {
public:
    CRect() : tagRECT{0, 0, 0, 0} {}
    CRect(int l, int t, int r, int b) : tagRECT{l, t, r, b} {}
    CRect(const RECT& r) : tagRECT(r) {}
    CRect(const RECT* r) : tagRECT(r ? *r : RECT{0, 0, 0, 0}) {}
    CRect(POINT topLeft, SIZE size)
        : tagRECT{topLeft.x, topLeft.y, topLeft.x + size.cx, topLeft.y + size.cy}
    {
    }
    CRect(POINT topLeft, POINT bottomRight)
        : tagRECT{topLeft.x, topLeft.y, bottomRight.x, bottomRight.y}
    {
    }

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    CSize Size() const { return CSize(Width(), Height()); }
    CPoint TopLeft() const { return CPoint(left, top); }
    CPoint BottomRight() const { return CPoint(right, bottom); }
    CPoint CenterPoint() const { return CPoint((left + right) / 2, (top + bottom) / 2); }
    // Empty: no area (width or height <= 0). Null: all four coordinates 0.
    bool IsRectEmpty() const { return right <= left || bottom <= top; }
    bool IsRectNull() const { return left == 0 && top == 0 && right == 0 && bottom == 0; }
    bool PtInRect(POINT p) const
    {
        return p.x >= left && p.x < right && p.y >= top && p.y < bottom;
    }

    void SetRect(int l, int t, int r, int b)
    {
        left = l;
        top = t;
        right = r;
        bottom = b;
    }
    void SetRectEmpty() { SetRect(0, 0, 0, 0); }
    void CopyRect(const RECT* r)
    {
        if (r)
            *static_cast<RECT*>(this) = *r;
    }
    bool EqualRect(const RECT* r) const
    {
        return r && left == r->left && top == r->top && right == r->right && bottom == r->bottom;
    }
    void InflateRect(int dx, int dy)
    {
        left -= dx;
        top -= dy;
        right += dx;
        bottom += dy;
    }
    void InflateRect(int l, int t, int r, int b)
    {
        left -= l;
        top -= t;
        right += r;
        bottom += b;
    }
    void DeflateRect(int dx, int dy) { InflateRect(-dx, -dy); }
    void DeflateRect(int l, int t, int r, int b) { InflateRect(-l, -t, -r, -b); }
    void OffsetRect(int dx, int dy)
    {
        left += dx;
        right += dx;
        top += dy;
        bottom += dy;
    }
    void OffsetRect(POINT p) { OffsetRect(p.x, p.y); }
    void MoveToXY(int x, int y) { OffsetRect(x - left, y - top); }
    void NormalizeRect()
    {
        if (left > right)
            std::swap(left, right);
        if (top > bottom)
            std::swap(top, bottom);
    }
    // The overlap of a and b; empty (all 0) and FALSE when they do not overlap.
    BOOL IntersectRect(const RECT* a, const RECT* b);
    // The smallest rectangle holding both (an empty one counts for nothing); FALSE when empty.
    BOOL UnionRect(const RECT* a, const RECT* b);

    operator RECT*() { return this; }
    operator const RECT*() const { return this; }
    bool operator==(const RECT& r) const { return EqualRect(&r); }
    bool operator!=(const RECT& r) const { return !EqualRect(&r); }
    CRect& operator+=(POINT p)
    {
        OffsetRect(p);
        return *this;
    }
    CRect& operator-=(POINT p)
    {
        OffsetRect(-p.x, -p.y);
        return *this;
    }
    CRect operator+(POINT p) const
    {
        CRect r(*this);
        r += p;
        return r;
    }
    CRect operator-(POINT p) const
    {
        CRect r(*this);
        r -= p;
        return r;
    }
    CRect operator&(const RECT& r) const
    {
        CRect out;
        out.IntersectRect(this, &r);
        return out;
    }
    CRect operator|(const RECT& r) const
    {
        CRect out;
        out.UnionRect(this, &r);
        return out;
    }
};

// ---- collections --------------------------------------------------------------------------

// An opaque place in a CList or CMap; null means none.
struct __POSITION {};
using POSITION = __POSITION*;

namespace afx_detail {
// Allocates a node of T; out of memory throws the MFC memory exception, as MFC collections do.
template <class T, class... Args> T* NewNode(Args&&... args)
{
    T* node = new (std::nothrow) T{std::forward<Args>(args)...};
    if (!node)
        AfxThrowMemoryException();
    return node;
}
} // namespace afx_detail

// A doubly linked list. ARG_TYPE is how elements are passed in (TYPE or const TYPE&). Node
// allocation throws a CMemoryException* when memory runs out. nBlockSize is accepted for MFC
// compatibility; nodes are allocated one by one.
template <class TYPE, class ARG_TYPE = const TYPE&> class CList {
public:
    explicit CList(int nBlockSize = 10) { (void)nBlockSize; }
    ~CList() { RemoveAll(); }
    CList(const CList&) = delete;
    CList& operator=(const CList&) = delete;

    int GetCount() const { return count_; }
    int GetSize() const { return count_; }
    bool IsEmpty() const { return count_ == 0; }

    TYPE& GetHead() { return head_->value; }
    const TYPE& GetHead() const { return head_->value; }
    TYPE& GetTail() { return tail_->value; }
    const TYPE& GetTail() const { return tail_->value; }

    POSITION AddHead(ARG_TYPE value) { return InsertBefore(ToPos(head_), value); }
    POSITION AddTail(ARG_TYPE value) { return InsertAfter(ToPos(tail_), value); }
    void AddTail(const CList* other)
    {
        for (Node* n = other ? other->head_ : nullptr; n; n = n->next)
            AddTail(n->value);
    }
    void AddHead(const CList* other)
    {
        for (Node* n = other ? other->tail_ : nullptr; n; n = n->prev)
            AddHead(n->value);
    }

    // Removing from an empty list is a caller error: it returns a default TYPE.
    TYPE RemoveHead()
    {
        if (!head_)
            return TYPE();
        TYPE value = std::move(head_->value);
        Unlink(head_);
        return value;
    }
    TYPE RemoveTail()
    {
        if (!tail_)
            return TYPE();
        TYPE value = std::move(tail_->value);
        Unlink(tail_);
        return value;
    }
    void RemoveAt(POSITION pos)
    {
        if (pos)
            Unlink(ToNode(pos));
    }
    void RemoveAll()
    {
        while (head_)
            Unlink(head_);
    }

    POSITION GetHeadPosition() const { return ToPos(head_); }
    POSITION GetTailPosition() const { return ToPos(tail_); }
    // The element at pos; pos moves to the next element (null after the tail).
    TYPE& GetNext(POSITION& pos)
    {
        Node* n = ToNode(pos);
        pos = ToPos(n->next);
        return n->value;
    }
    const TYPE& GetNext(POSITION& pos) const
    {
        Node* n = ToNode(pos);
        pos = ToPos(n->next);
        return n->value;
    }
    TYPE& GetPrev(POSITION& pos)
    {
        Node* n = ToNode(pos);
        pos = ToPos(n->prev);
        return n->value;
    }
    const TYPE& GetPrev(POSITION& pos) const
    {
        Node* n = ToNode(pos);
        pos = ToPos(n->prev);
        return n->value;
    }
    TYPE& GetAt(POSITION pos) { return ToNode(pos)->value; }
    const TYPE& GetAt(POSITION pos) const { return ToNode(pos)->value; }
    void SetAt(POSITION pos, ARG_TYPE value) { ToNode(pos)->value = value; }

    // pos null: at the head (InsertBefore) or the tail (InsertAfter).
    POSITION InsertBefore(POSITION pos, ARG_TYPE value)
    {
        Node* at = pos ? ToNode(pos) : head_;
        Node* n = afx_detail::NewNode<Node>(TYPE(value), at ? at->prev : nullptr, at);
        (n->prev ? n->prev->next : head_) = n;
        (at ? at->prev : tail_) = n;
        ++count_;
        return ToPos(n);
    }
    POSITION InsertAfter(POSITION pos, ARG_TYPE value)
    {
        Node* at = pos ? ToNode(pos) : tail_;
        Node* n = afx_detail::NewNode<Node>(TYPE(value), at, at ? at->next : nullptr);
        (n->next ? n->next->prev : tail_) = n;
        (at ? at->next : head_) = n;
        ++count_;
        return ToPos(n);
    }

    // The first element equal to value after startAfter (null: from the head); null if none.
    POSITION Find(ARG_TYPE value, POSITION startAfter = nullptr) const
    {
        for (Node* n = startAfter ? ToNode(startAfter)->next : head_; n; n = n->next)
            if (n->value == value)
                return ToPos(n);
        return nullptr;
    }
    POSITION FindIndex(int index) const
    {
        if (index < 0 || index >= count_)
            return nullptr;
        Node* n = head_;
        while (index-- > 0)
            n = n->next;
        return ToPos(n);
    }

private:
    struct Node : __POSITION {
        Node(TYPE v, Node* p, Node* n) : value(std::move(v)), prev(p), next(n) {}
        TYPE value;
        Node* prev;
        Node* next;
    };
    static POSITION ToPos(Node* n) { return n; }
    static Node* ToNode(POSITION p) { return static_cast<Node*>(p); }
    void Unlink(Node* n)
    {
        (n->prev ? n->prev->next : head_) = n->next;
        (n->next ? n->next->prev : tail_) = n->prev;
        delete n;
        --count_;
    }

    Node* head_ = nullptr;
    Node* tail_ = nullptr;
    int count_ = 0;
};

// Hash of a key, as MFC computes it: integers and pointers shifted right by 4; wide strings
// with h = h * 33 + character.
template <class ARG_KEY> inline UINT HashKey(ARG_KEY key)
{
    if constexpr (std::is_pointer_v<std::decay_t<ARG_KEY>>)
        return static_cast<UINT>(reinterpret_cast<std::uintptr_t>(key) >> 4);
    else
        return static_cast<UINT>(static_cast<std::uintptr_t>(key) >> 4);
}
template <> inline UINT HashKey<const wchar_t*>(const wchar_t* key)
{
    UINT h = 0;
    while (key && *key)
        h = (h << 5) + h + static_cast<UINT>(*key++);
    return h;
}
template <> inline UINT HashKey<const CString&>(const CString& key)
{
    return HashKey<const wchar_t*>(key.GetString());
}
template <> inline UINT HashKey<CString>(CString key)
{
    return HashKey<const wchar_t*>(key.GetString());
}

// A hash map with MFC's layout: a table of buckets (17 unless InitHashTable says otherwise),
// bucket = HashKey(key) % table size, a new key goes to the front of its bucket's chain, and
// iteration (GetStartPosition / GetNextAssoc) walks the buckets in order and each chain from
// its front. Node allocation throws a CMemoryException* when memory runs out.
template <class KEY, class ARG_KEY, class VALUE, class ARG_VALUE> class CMap {
public:
    explicit CMap(int nBlockSize = 10) { (void)nBlockSize; }
    ~CMap() { RemoveAll(); }
    CMap(const CMap&) = delete;
    CMap& operator=(const CMap&) = delete;

    int GetCount() const { return count_; }
    int GetSize() const { return count_; }
    bool IsEmpty() const { return count_ == 0; }
    UINT GetHashTableSize() const { return tableSize_; }

    // Sets the number of buckets for the next allocation of the table; takes effect only while
    // the map is empty (as in MFC, where calling it on a filled map is an error).
    void InitHashTable(UINT size, bool allocNow = true)
    {
        if (count_ != 0 || size == 0)
            return;
        table_.clear();
        tableSize_ = size;
        if (allocNow)
            AllocTable();
    }

    BOOL Lookup(ARG_KEY key, VALUE& value) const
    {
        const Assoc* a = Find(key);
        if (!a)
            return FALSE;
        value = a->value;
        return TRUE;
    }
    void SetAt(ARG_KEY key, ARG_VALUE value) { (*this)[key] = value; }
    VALUE& operator[](ARG_KEY key)
    {
        if (Assoc* a = Find(key))
            return a->value;
        if (table_.empty())
            AllocTable();
        UINT bucket = HashKey<ARG_KEY>(key) % tableSize_;
        Assoc* a = afx_detail::NewNode<Assoc>(KEY(key), VALUE(), table_[bucket]);
        table_[bucket] = a;
        ++count_;
        return a->value;
    }
    BOOL RemoveKey(ARG_KEY key)
    {
        if (table_.empty())
            return FALSE;
        Assoc** link = &table_[HashKey<ARG_KEY>(key) % tableSize_];
        for (; *link; link = &(*link)->next) {
            if ((*link)->key == key) {
                Assoc* gone = *link;
                *link = gone->next;
                delete gone;
                --count_;
                return TRUE;
            }
        }
        return FALSE;
    }
    void RemoveAll()
    {
        for (Assoc*& head : table_) {
            while (head) {
                Assoc* next = head->next;
                delete head;
                head = next;
            }
        }
        table_.clear();
        count_ = 0;
    }

    // Null when the map is empty; else a position for GetNextAssoc.
    POSITION GetStartPosition() const { return count_ == 0 ? nullptr : First(); }
    // Gives the key and value at pos and moves pos to the next association (null at the end).
    void GetNextAssoc(POSITION& pos, KEY& key, VALUE& value) const
    {
        const Assoc* a = static_cast<const Assoc*>(pos);
        key = a->key;
        value = a->value;
        pos = Next(a);
    }

private:
    struct Assoc : __POSITION {
        Assoc(KEY k, VALUE v, Assoc* n) : key(std::move(k)), value(std::move(v)), next(n) {}
        KEY key;
        VALUE value;
        Assoc* next;
    };
    void AllocTable()
    {
        try {
            table_.assign(tableSize_, nullptr);
        } catch (const std::bad_alloc&) {
            AfxThrowMemoryException();
        }
    }
    Assoc* Find(ARG_KEY key) const
    {
        if (table_.empty())
            return nullptr;
        for (Assoc* a = table_[HashKey<ARG_KEY>(key) % tableSize_]; a; a = a->next)
            if (a->key == key)
                return a;
        return nullptr;
    }
    POSITION First() const
    {
        for (Assoc* head : table_)
            if (head)
                return head;
        return nullptr;
    }
    POSITION Next(const Assoc* a) const
    {
        if (a->next)
            return a->next;
        for (std::size_t b = HashKey<ARG_KEY>(a->key) % tableSize_ + 1; b < table_.size(); ++b)
            if (table_[b])
                return table_[b];
        return nullptr;
    }

    std::vector<Assoc*> table_;
    UINT tableSize_ = 17;
    int count_ = 0;
};

// ---- GDI wrappers -------------------------------------------------------------------------

// Owns a GDI object handle: the destructor deletes it unless detached.
class OUTSIDE_API CGdiObject {
public:
    CGdiObject() = default;
    virtual ~CGdiObject();
    CGdiObject(const CGdiObject&) = delete;
    CGdiObject& operator=(const CGdiObject&) = delete;

    HGDIOBJ m_hObject = nullptr;

    HGDIOBJ GetSafeHandle() const { return m_hObject; }
    // Takes over handle (FALSE when handle is null or this object already holds one).
    BOOL Attach(HGDIOBJ handle);
    HGDIOBJ Detach();
    BOOL DeleteObject();
    int GetObject(int size, void* out) const { return GetObjectW(m_hObject, size, out); }
};

class OUTSIDE_API CBitmap : public CGdiObject {
public:
    operator HBITMAP() const { return static_cast<HBITMAP>(m_hObject); }
    BOOL CreateCompatibleBitmap(class CDC* dc, int width, int height);
    int GetBitmap(BITMAP* out) const { return GetObject(sizeof(BITMAP), out); }
};

class OUTSIDE_API CBrush : public CGdiObject {
public:
    CBrush() = default;
    explicit CBrush(COLORREF colour) { CreateSolidBrush(colour); }
    operator HBRUSH() const { return static_cast<HBRUSH>(m_hObject); }
    BOOL CreateSolidBrush(COLORREF colour);
};

// Owns a device context: the destructor deletes it (DeleteDC) unless detached.
class OUTSIDE_API CDC {
public:
    CDC() = default;
    virtual ~CDC();
    CDC(const CDC&) = delete;
    CDC& operator=(const CDC&) = delete;

    HDC m_hDC = nullptr;

    HDC GetSafeHdc() const { return m_hDC; }
    operator HDC() const { return m_hDC; }
    BOOL Attach(HDC dc);
    HDC Detach();
    BOOL DeleteDC();
    BOOL CreateCompatibleDC(CDC* other);

    HGDIOBJ SelectObject(HGDIOBJ object) { return ::SelectObject(m_hDC, object); }
    // Selects the bitmap and returns the handle of the one it replaced (wrapped by the caller).
    HGDIOBJ SelectObject(CBitmap* bitmap)
    {
        return ::SelectObject(m_hDC, bitmap ? bitmap->m_hObject : nullptr);
    }
    int SetMapMode(int mode) { return ::SetMapMode(m_hDC, mode); }
    int GetMapMode() const { return ::GetMapMode(m_hDC); }
    int SetStretchBltMode(int mode) { return ::SetStretchBltMode(m_hDC, mode); }
    int GetDeviceCaps(int index) const { return ::GetDeviceCaps(m_hDC, index); }
    COLORREF SetPixel(int x, int y, COLORREF colour) { return ::SetPixel(m_hDC, x, y, colour); }
    COLORREF GetPixel(int x, int y) const { return ::GetPixel(m_hDC, x, y); }
    void FillRect(const RECT* rect, CBrush* brush)
    {
        ::FillRect(m_hDC, rect, brush ? static_cast<HBRUSH>(brush->m_hObject) : nullptr);
    }
    void FillSolidRect(const RECT* rect, COLORREF colour);
    void FillSolidRect(int x, int y, int width, int height, COLORREF colour);
    BOOL BitBlt(int x, int y, int width, int height, CDC* src, int srcX, int srcY, DWORD rop)
    {
        return ::BitBlt(m_hDC, x, y, width, height, src ? src->m_hDC : nullptr, srcX, srcY, rop);
    }
    BOOL StretchBlt(int x, int y, int width, int height, CDC* src, int srcX, int srcY, int srcWidth,
                    int srcHeight, DWORD rop)
    {
        return ::StretchBlt(m_hDC, x, y, width, height, src ? src->m_hDC : nullptr, srcX, srcY,
                            srcWidth, srcHeight, rop);
    }
    BOOL DrawIcon(int x, int y, HICON icon) { return ::DrawIcon(m_hDC, x, y, icon); }
};

// A window. There are no windows of our own: hosts pass null, and a CWnd only carries a handle.
class OUTSIDE_API CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;
    HWND m_hWnd = nullptr;
    HWND GetSafeHwnd() const { return m_hWnd; }
};

// A device context of a window for its lifetime; of the screen when the window is null (the
// only kind there is). m_hDC is null when no context could be obtained.
class OUTSIDE_API CClientDC : public CDC {
public:
    explicit CClientDC(CWnd* window);
    ~CClientDC() override;

protected:
    HWND m_hWnd = nullptr;
};
