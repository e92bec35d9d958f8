// xml_node.h - a read-only XML document tree with wide-string access.
//
// An XMLNode is a light handle: copies share the parsed document, which lives as long as any
// node of it. An empty node (isEmpty() != 0) stands for "no such node"; every query on it
// answers empty or null, so queries can be chained without checks in between.
// Strings returned stay valid as long as a node of the same document lives. Nodes of one
// document may be read from several threads.
#pragma once

#include "../outside_api.h"

#include <memory>

namespace base_internal {
struct XmlDocument;
}

class OUTSIDE_API XMLNode {
public:
    XMLNode();
    XMLNode(const XMLNode&);
    XMLNode& operator=(const XMLNode&);
    ~XMLNode();

    // Parses text. Without tag: the document node, whose children are the top-level
    // elements. With tag: the top-level element of that name (the root element of a
    // well-formed document). Empty node when text is null or not well-formed XML, or when no
    // top-level element has that name. Names compare exactly (case matters).
    static XMLNode parseString(const wchar_t* text, const wchar_t* tag = nullptr);

    // The index-th child element (0 first) named name; with a null name, the index-th child
    // element of any name. Empty when there is none.
    XMLNode getChildNode(const wchar_t* name, int index = 0) const;
    XMLNode getChildNode(int index) const { return getChildNode(nullptr, index); }
    // The first child element named name that has an attribute attrName, and, when attrValue
    // is not null, whose value equals attrValue. Empty when there is none.
    XMLNode getChildNodeWithAttribute(const wchar_t* name, const wchar_t* attrName,
                                      const wchar_t* attrValue = nullptr) const;
    // Number of child elements named name (null: of any name).
    int nChildNode(const wchar_t* name = nullptr) const;

    // The value of the attribute, or null when the element has no such attribute.
    const wchar_t* getAttribute(const wchar_t* name) const;
    // The element's text content (its first text or CDATA child), or null when it has none.
    const wchar_t* getText() const;
    // The element's name, or null for an empty node or the document node.
    const wchar_t* getName() const;

    int isEmpty() const;

private:
    XMLNode(std::shared_ptr<base_internal::XmlDocument> doc, const void* node);

    std::shared_ptr<base_internal::XmlDocument> m_doc;
    const void* m_node = nullptr; // pugi::xml_node_struct*, owned by m_doc
};
