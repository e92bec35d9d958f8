// XML queries, the 16-to-8-bit table, run-time type records and the file-dialog record.
#include "base/ofp_info.h"
#include "base/titem.h"
#include "base/word2byte.h"
#include "base/xml_node.h"

#include <gtest/gtest.h>
#include <string>

namespace {

const wchar_t* const kInfo = LR"(<?xml version="1.0"?>
<ImageInfo>
  <width>1200</width>
  <ResolutionUnits>Pixel/CM</ResolutionUnits>
  <Inkset Name="first"/>
  <Inkset NumChannels="5" Name="second">ignored</Inkset>
  <Inkset NumChannels="7"/>
  <Space><![CDATA[gray]]></Space>
  <Note>Écriture &amp; 日本</Note>
  <Empty></Empty>
</ImageInfo>)";

TEST(XmlNode, QueriesOnAnEngineDescription)
{
    XMLNode root = XMLNode::parseString(kInfo, L"ImageInfo");
    ASSERT_EQ(root.isEmpty(), 0);
    EXPECT_STREQ(root.getName(), L"ImageInfo");
    EXPECT_STREQ(root.getChildNode(L"width").getText(), L"1200");
    EXPECT_STREQ(root.getChildNode(L"Space").getText(), L"gray");
    EXPECT_STREQ(root.getChildNode(L"Note").getText(), L"Écriture & 日本");
    EXPECT_EQ(root.getChildNode(L"Empty").isEmpty(), 0);
    EXPECT_EQ(root.getChildNode(L"Empty").getText(), nullptr);
    EXPECT_EQ(root.getChildNode(L"height").isEmpty(), 1);
    EXPECT_EQ(root.getChildNode(L"height").getText(), nullptr); // chained on an empty node
    EXPECT_EQ(root.getChildNode(L"WIDTH").isEmpty(), 1);        // names are exact

    XMLNode ink = root.getChildNodeWithAttribute(L"Inkset", L"NumChannels");
    EXPECT_STREQ(ink.getAttribute(L"NumChannels"), L"5");
    EXPECT_STREQ(ink.getAttribute(L"Name"), L"second");
    EXPECT_EQ(ink.getAttribute(L"Missing"), nullptr);
    EXPECT_STREQ(root.getChildNodeWithAttribute(L"Inkset", L"NumChannels", L"7")
                     .getAttribute(L"NumChannels"),
                 L"7");
    EXPECT_EQ(root.getChildNodeWithAttribute(L"Inkset", L"NumChannels", L"9").isEmpty(), 1);
    EXPECT_EQ(root.nChildNode(L"Inkset"), 3);
    EXPECT_EQ(root.nChildNode(), 8);
    EXPECT_STREQ(root.getChildNode(L"Inkset", 2).getAttribute(L"NumChannels"), L"7");
    EXPECT_EQ(root.getChildNode(L"Inkset", 3).isEmpty(), 1);
    EXPECT_STREQ(root.getChildNode(1).getName(), L"ResolutionUnits");
}

TEST(XmlNode, NodesOutliveTheirDocumentHandle)
{
    const wchar_t* text = nullptr;
    XMLNode child;
    {
        XMLNode root = XMLNode::parseString(kInfo);
        ASSERT_EQ(root.isEmpty(), 0);
        EXPECT_EQ(root.getName(), nullptr); // the document node
        child = root.getChildNode(L"ImageInfo").getChildNode(L"width");
    }
    text = child.getText();
    EXPECT_STREQ(text, L"1200");
}

TEST(XmlNode, BadInputGivesEmptyNodes)
{
    const wchar_t* cases[] = {L"", L"<a><b></a>", L"not xml at all <", L"<Other/>"};
    for (const wchar_t* c : cases)
        EXPECT_EQ(XMLNode::parseString(c, L"ImageInfo").isEmpty(), 1) << c;
    EXPECT_EQ(XMLNode::parseString(nullptr).isEmpty(), 1);
    XMLNode empty;
    EXPECT_EQ(empty.getChildNodeWithAttribute(L"a", L"b").isEmpty(), 1);
    EXPECT_EQ(empty.getAttribute(L"a"), nullptr);
    EXPECT_EQ(empty.nChildNode(), 0);
}

TEST(Word2Byte, RoundsToNearest)
{
    EXPECT_EQ(g_word2byte[0], 0);
    EXPECT_EQ(g_word2byte[128], 0); // 128 / 257 = 0.498
    EXPECT_EQ(g_word2byte[129], 1); // 0.502
    EXPECT_EQ(g_word2byte[257], 1);
    EXPECT_EQ(g_word2byte[32767], 127);
    EXPECT_EQ(g_word2byte[32768], 128);
    EXPECT_EQ(g_word2byte[65535], 255);
    for (std::uint32_t v = 0; v < 65536; ++v) {
        const double exact = v * 255.0 / 65535.0;
        ASSERT_LE(std::abs(g_word2byte[v] - exact), 0.5) << v;
    }
}

class Derived : public TItem {
public:
    CMosaRTTI* GetRTTI() const override { return &m_rttiDerived; }
    static CMosaRTTI m_rttiDerived;
};
CMosaRTTI Derived::m_rttiDerived("Derived", &TItem::m_rttiTItem);

TEST(TItem, TypeRecordsAndBaseAnswers)
{
    TItem base;
    Derived d1, d2;
    EXPECT_TRUE(d1.EsDe(&TItem::m_rttiTItem));
    EXPECT_TRUE(d1.EsDe(&Derived::m_rttiDerived));
    EXPECT_FALSE(base.EsDe(&Derived::m_rttiDerived));
    EXPECT_FALSE(d1.EsDe(nullptr));
    EXPECT_STREQ(d1.GetRTTI()->GetName(), "Derived");

    EXPECT_EQ(d1.Iguals(&d1), 1);
    EXPECT_EQ(d1.Iguals(&d2), 0);
    EXPECT_EQ(d1.Iguals(nullptr), 0);
    EXPECT_EQ(d1.Comparar(&d1), 0);
    EXPECT_EQ(d1.Comparar(nullptr), 1);
    EXPECT_EQ(d1.Comparar(&d2), -d2.Comparar(&d1));
    EXPECT_NE(d1.Comparar(&d2), 0);
    EXPECT_GT(base.Comparar(&d1), 0); // "TItem" sorts after "Derived"
    EXPECT_EQ(base.Duplicar(), nullptr);
    EXPECT_EQ(base.EsBuit(), 1);
    EXPECT_EQ(base.Guardar(nullptr), -3);
    EXPECT_EQ(base.Guardar(stdout), 0);

    // A cycle of parent links ends the walk.
    CMosaRTTI a("A"), b("B", &a);
    a.SetParent(&b);
    EXPECT_FALSE(a.IsDerivedFrom(&TItem::m_rttiTItem));
    EXPECT_TRUE(a.IsDerivedFrom(&b));
}

TEST(OfpInfo, PreviewIsTakenOver)
{
    OFP_INFO info;
    info.m_strPath = L"/photos/a.tif";
    info.m_flags = OFP_INFO::OFP_DESCRIPTION | OFP_INFO::OFP_PREVIEW;
    info.SetInfo(L"TIFF\r\nDPI: 300.00 x 300.00 dpi");
    EXPECT_EQ(info.GetInfo(), L"TIFF\r\nDPI: 300.00 x 300.00 dpi");
    info.SetInfo(nullptr);
    EXPECT_TRUE(info.GetInfo().IsEmpty());
    auto* first = new CBitmap;
    info.SetPreview(first);
    info.SetPreview(first); // the same one again: kept
    EXPECT_EQ(info.GetPreview(), first);
    info.SetPreview(new CBitmap); // the first is deleted (ASan checks)
    CBitmap* mine = info.DetachPreview();
    EXPECT_EQ(info.GetPreview(), nullptr);
    delete mine;
}

} // namespace
