// MFC-shaped classes: CString formatting and editing, CList order, CMap bucket order, CRect,
// the memory exception, and the GDI wrappers' ownership.
#include <climits>
#include <cstdint>
#include <gtest/gtest.h>
#include <vector>
#include <win/afx.h>

namespace {

TEST(CStringTest, FormatTakesWideStringsAndNonAscii)
{
    CString s;
    s.Format(L"%s \u2013 %d \u00D7 %c [%S] %5.2f %%", L"\u00C9chelle de gris", 42, L'\u00F1', "abc",
             3.14159);
    EXPECT_EQ(s, L"\u00C9chelle de gris \u2013 42 \u00D7 \u00F1 [abc]  3.14 %");
    s.Format(L"%ls|%hs|%-4s|%I64d|%I64X", L"wide", "narrow", L"ab", std::int64_t(1) << 40,
             std::uint64_t(0xABCDEF0123ull));
    EXPECT_EQ(s, L"wide|narrow|ab  |1099511627776|ABCDEF0123");
    s.AppendFormat(L"+%s", L"\U0001F600");
    EXPECT_EQ(s.Right(2), CString(L"+\U0001F600"));

    // Narrow arguments are UTF-8 whatever the process locale; ill-formed ones give "".
    s.Format(L"[%S|%hs]", "\xC3\xA9t\xC3\xA9", "\xE2\x82\xAC");
    EXPECT_EQ(s, L"[\u00E9t\u00E9|\u20AC]");
    s.Format(L"[%S]", "\xFF");
    EXPECT_TRUE(s.IsEmpty());

    const std::wstring big(5000, L'\u00E9');
    s.Format(L"<%s>", big.c_str());
    EXPECT_EQ(s.GetLength(), 5002);
    EXPECT_EQ(s.Mid(1, 5000), CString(big));
}

TEST(CStringTest, EditingAndSearching)
{
    CString s(L"  Hello, W\u00F6rld  ");
    s.Trim();
    EXPECT_EQ(s, L"Hello, W\u00F6rld");
    EXPECT_EQ(s.Left(5), L"Hello");
    EXPECT_EQ(s.Left(99), s);
    EXPECT_EQ(s.Left(-1), L"");
    EXPECT_EQ(s.Mid(7), L"W\u00F6rld");
    EXPECT_EQ(s.Mid(7, 2), L"W\u00F6");
    EXPECT_EQ(s.Mid(50, 2), L"");
    EXPECT_EQ(s.Right(4), L"\u00F6rld");
    EXPECT_EQ(s.Find(L'l'), 2);
    EXPECT_EQ(s.Find(L'l', 4), 10);
    EXPECT_EQ(s.Find(L"W\u00F6"), 7);
    EXPECT_EQ(s.Find(L"zz"), -1);
    EXPECT_EQ(s.Find(L'l', 100), -1);
    EXPECT_EQ(s.ReverseFind(L'l'), 10);
    EXPECT_EQ(s.Replace(L"l", L"LL"), 3);
    EXPECT_EQ(s, L"HeLLLLo, W\u00F6rLLd");
    CString upper(L"abc.Def");
    upper.MakeUpper();
    EXPECT_EQ(upper, L"ABC.DEF");
    upper.MakeLower();
    EXPECT_EQ(upper, L"abc.def");
    EXPECT_EQ(upper.CompareNoCase(L"ABC.DEF"), 0);
    EXPECT_LT(CString(L"abc").Compare(L"abd"), 0);
    EXPECT_TRUE(CString(L"a") < CString(L"b"));

    CString joined = CString(L"x") + L"/" + CString(L"y") + L'z';
    EXPECT_EQ(joined, L"x/yz");
    joined += L"\u00E9";
    EXPECT_EQ(joined.GetLength(), 5);
    joined.Empty();
    EXPECT_TRUE(joined.IsEmpty());
    EXPECT_STREQ(static_cast<const wchar_t*>(joined), L"");
    EXPECT_EQ(CString(static_cast<const wchar_t*>(nullptr)), L"");
    EXPECT_EQ(CString("d\xC3\xA9j\xC3\xA0"), L"d\u00E9j\u00E0");
}

TEST(CStringTest, GetBufferAndReleaseBuffer)
{
    CString s(L"ab");
    wchar_t* p = s.GetBuffer(10);
    wcscpy(p, L"0123456");
    s.ReleaseBuffer();
    EXPECT_EQ(s, L"0123456");
    p = s.GetBuffer(0);
    p[3] = L'\0';
    s.ReleaseBuffer();
    EXPECT_EQ(s, L"012");
    p = s.GetBufferSetLength(4);
    p[3] = L'x';
    s.ReleaseBuffer(4);
    EXPECT_EQ(s.GetLength(), 4);
    EXPECT_EQ(s[3], L'x');
    EXPECT_EQ(s[4], L'\0');
    EXPECT_EQ(s.GetAt(-1), L'\0');
    s.SetAt(9, L'y');
    EXPECT_EQ(s.GetLength(), 4);
}

TEST(CListTest, KeepsOrderThroughAddsAndRemovals)
{
    CList<int, int> list(8192);
    list.AddTail(2);
    list.AddTail(3);
    list.AddHead(1);
    POSITION three = list.Find(3);
    list.InsertBefore(three, 25);
    list.InsertAfter(three, 4);
    std::vector<int> seen;
    for (POSITION p = list.GetHeadPosition(); p;)
        seen.push_back(list.GetNext(p));
    EXPECT_EQ(seen, (std::vector<int>{1, 2, 25, 3, 4}));
    EXPECT_EQ(list.GetCount(), 5);
    EXPECT_EQ(list.GetAt(list.FindIndex(2)), 25);
    EXPECT_EQ(list.FindIndex(5), nullptr);

    EXPECT_EQ(list.RemoveHead(), 1);
    EXPECT_EQ(list.RemoveTail(), 4);
    list.RemoveAt(list.Find(25));
    seen.clear();
    for (POSITION p = list.GetTailPosition(); p;)
        seen.push_back(list.GetPrev(p));
    EXPECT_EQ(seen, (std::vector<int>{3, 2}));
    list.RemoveAll();
    EXPECT_TRUE(list.IsEmpty());
    EXPECT_EQ(list.GetHeadPosition(), nullptr);
    list.AddHead(9);
    EXPECT_EQ(list.GetHead(), 9);
    EXPECT_EQ(list.GetTail(), 9);
}

std::vector<unsigned long> keysInOrder(const CMap<unsigned long, unsigned long, int, int>& map)
{
    std::vector<unsigned long> keys;
    unsigned long k;
    int v;
    for (POSITION p = map.GetStartPosition(); p;) {
        map.GetNextAssoc(p, k, v);
        keys.push_back(k);
    }
    return keys;
}

TEST(CMapTest, IteratesByBucketThenNewestFirst)
{
    CMap<unsigned long, unsigned long, int, int> map(10);
    EXPECT_EQ(map.GetStartPosition(), nullptr);
    // Buckets (key >> 4) % 17: 0x10 -> 1, 0x20 -> 2, 0x110 -> 0, 0x120 -> 1.
    for (unsigned long key : {0x10ul, 0x20ul, 0x110ul, 0x120ul})
        map.SetAt(key, int(key));
    EXPECT_EQ(keysInOrder(map), (std::vector<unsigned long>{0x110, 0x120, 0x10, 0x20}));
    EXPECT_EQ(map.GetCount(), 4);

    int value = 0;
    EXPECT_TRUE(map.Lookup(0x120, value));
    EXPECT_EQ(value, 0x120);
    EXPECT_FALSE(map.Lookup(0x130, value));
    map[0x120] = 7; // replaces, does not add
    EXPECT_EQ(map.GetCount(), 4);
    EXPECT_TRUE(map.Lookup(0x120, value));
    EXPECT_EQ(value, 7);
    EXPECT_TRUE(map.RemoveKey(0x110));
    EXPECT_FALSE(map.RemoveKey(0x110));
    EXPECT_EQ(keysInOrder(map), (std::vector<unsigned long>{0x120, 0x10, 0x20}));
    map.RemoveAll();
    EXPECT_TRUE(map.IsEmpty());

    // Another table size gives another order.
    map.InitHashTable(3);
    for (unsigned long key : {0x10ul, 0x20ul, 0x30ul, 0x40ul})
        map.SetAt(key, 0);
    EXPECT_EQ(keysInOrder(map), (std::vector<unsigned long>{0x30, 0x40, 0x10, 0x20}));
}

TEST(CMapTest, StringKeys)
{
    CMap<CString, const wchar_t*, int, int> map;
    map[L"\u00E9t\u00E9"] = 1;
    map[L"hiver"] = 2;
    int v = 0;
    EXPECT_TRUE(map.Lookup(L"\u00E9t\u00E9", v));
    EXPECT_EQ(v, 1);
    EXPECT_FALSE(map.Lookup(L"ETE", v));
    EXPECT_TRUE(map.RemoveKey(L"hiver"));
    EXPECT_EQ(map.GetCount(), 1);
}

TEST(CRectTest, Geometry)
{
    CRect r(10, 20, 40, 60);
    EXPECT_EQ(r.Width(), 30);
    EXPECT_EQ(r.Height(), 40);
    EXPECT_FALSE(r.IsRectEmpty());
    EXPECT_TRUE(CRect(5, 5, 5, 9).IsRectEmpty());
    EXPECT_TRUE(CRect().IsRectNull());
    EXPECT_TRUE(r.PtInRect(CPoint(10, 20)));
    EXPECT_FALSE(r.PtInRect(CPoint(40, 20)));

    CRect i;
    EXPECT_TRUE(i.IntersectRect(&r, CRect(30, 0, 100, 30)));
    EXPECT_EQ(i, CRect(30, 20, 40, 30));
    EXPECT_FALSE(i.IntersectRect(&r, CRect(40, 0, 50, 10)));
    EXPECT_TRUE(i.IsRectNull());
    CRect u;
    EXPECT_TRUE(u.UnionRect(&r, CRect(0, 0, 0, 0)));
    EXPECT_EQ(u, r);
    EXPECT_TRUE(u.UnionRect(&r, CRect(0, 0, 1, 1)));
    EXPECT_EQ(u, CRect(0, 0, 40, 60));

    CRect n(40, 60, 10, 20);
    n.NormalizeRect();
    EXPECT_EQ(n, r);
    n.OffsetRect(1, 2);
    EXPECT_EQ(n.TopLeft(), CPoint(11, 22));
    n.InflateRect(1, 2);
    EXPECT_EQ(n, CRect(10, 20, 42, 64));
    n.SetRect(0, 0, 3, 3);
    EXPECT_EQ(n.Size(), CSize(3, 3));
}

TEST(AfxException, MemoryExceptionIsThrownByPointer)
{
    bool caught = false;
    try {
        AfxThrowMemoryException();
    } catch (CMemoryException* e) {
        caught = e != nullptr;
        e->Delete(); // the shared instance survives
    }
    EXPECT_TRUE(caught);
    try {
        AfxThrowMemoryException();
    } catch (CException* e) {
        e->Delete();
    }
}

TEST(AfxGdi, WrappersOwnTheirHandles)
{
    HDC screen = nullptr;
    HBITMAP bitmap = nullptr;
    HDC memory = nullptr;
    {
        CClientDC client(nullptr);
        screen = client.GetSafeHdc();
        ASSERT_NE(screen, nullptr);
        EXPECT_EQ(client.GetDeviceCaps(LOGPIXELSX), 96);
        EXPECT_EQ(GetObjectType(screen), OBJ_DC);

        CDC dc;
        ASSERT_TRUE(dc.CreateCompatibleDC(&client));
        memory = dc.GetSafeHdc();
        CBitmap bmp;
        ASSERT_TRUE(bmp.CreateCompatibleBitmap(&client, 8, 4));
        bitmap = static_cast<HBITMAP>(bmp.GetSafeHandle());
        BITMAP info{};
        ASSERT_EQ(bmp.GetBitmap(&info), int(sizeof(BITMAP)));
        EXPECT_EQ(info.bmBitsPixel, 32);
        HGDIOBJ old = dc.SelectObject(&bmp);
        dc.FillSolidRect(0, 0, 8, 4, RGB(1, 2, 3));
        EXPECT_EQ(dc.GetPixel(7, 3), RGB(1, 2, 3));
        // Extents reaching past the integer range fill to the edge (no overflow).
        dc.FillSolidRect(4, 2, INT_MAX, INT_MAX, RGB(4, 5, 6));
        EXPECT_EQ(dc.GetPixel(7, 3), RGB(4, 5, 6));
        EXPECT_EQ(dc.GetPixel(3, 3), RGB(1, 2, 3));
        dc.SelectObject(old);
    }
    EXPECT_EQ(GetObjectType(screen), 0u);
    EXPECT_EQ(GetObjectType(memory), 0u);
    EXPECT_EQ(GetObjectType(bitmap), 0u);

    CBitmap kept;
    HBITMAP h = CreateCompatibleBitmap(nullptr, 2, 2);
    ASSERT_TRUE(kept.Attach(h));
    EXPECT_FALSE(kept.Attach(h));
    EXPECT_EQ(kept.Detach(), h);
    EXPECT_EQ(GetObjectType(h), OBJ_BITMAP);
    EXPECT_TRUE(DeleteObject(h));
}

} // namespace
