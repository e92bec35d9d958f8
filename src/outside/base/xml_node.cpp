// xml_node.cpp - XMLNode on pugixml. pugixml works in UTF-8 here; wide strings are converted
// at the edge and the converted results are cached in the document so that the pointers handed
// out stay valid with it.
#include "base/xml_node.h"

#include "win/files.h"

#include <cstring>
#include <mutex>
#include <pugixml.hpp>
#include <string>
#include <unordered_map>

namespace base_internal {

struct XmlDocument {
    pugi::xml_document doc;
    std::mutex mutex;
    std::unordered_map<const char*, std::wstring> wide; // UTF-8 text in doc -> wide copy

    const wchar_t* Wide(const char* utf8)
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto it = wide.find(utf8);
        if (it == wide.end())
            it = wide.emplace(utf8, Utf8ToWide(utf8)).first;
        return it->second.c_str();
    }
};

} // namespace base_internal

namespace {

pugi::xml_node Node(const void* p)
{
    return pugi::xml_node(static_cast<pugi::xml_node_struct*>(const_cast<void*>(p)));
}

std::string Utf8(const wchar_t* s)
{
    return s ? WideToUtf8(s) : std::string();
}

} // namespace

XMLNode::XMLNode() = default;
XMLNode::XMLNode(const XMLNode&) = default;
XMLNode& XMLNode::operator=(const XMLNode&) = default;
XMLNode::~XMLNode() = default;

XMLNode::XMLNode(std::shared_ptr<base_internal::XmlDocument> doc, const void* node)
    : m_doc(node ? std::move(doc) : nullptr), m_node(node)
{
}

XMLNode XMLNode::parseString(const wchar_t* text, const wchar_t* tag)
{
    if (!text)
        return {};
    try {
        auto doc = std::make_shared<base_internal::XmlDocument>();
        const std::string utf8 = WideToUtf8(text);
        const pugi::xml_parse_result r = doc->doc.load_buffer(
            utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8);
        if (!r)
            return {};
        if (!tag)
            return XMLNode(doc, doc->doc.internal_object());
        const std::string name = Utf8(tag);
        for (pugi::xml_node n = doc->doc.first_child(); n; n = n.next_sibling()) {
            if (n.type() == pugi::node_element && name == n.name())
                return XMLNode(doc, n.internal_object());
        }
    } catch (const std::exception&) {
    }
    return {};
}

XMLNode XMLNode::getChildNode(const wchar_t* name, int index) const
{
    if (!m_node || index < 0)
        return {};
    const std::string n8 = Utf8(name);
    for (pugi::xml_node c = Node(m_node).first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element || (name && n8 != c.name()))
            continue;
        if (index-- == 0)
            return XMLNode(m_doc, c.internal_object());
    }
    return {};
}

XMLNode XMLNode::getChildNodeWithAttribute(const wchar_t* name, const wchar_t* attrName,
                                           const wchar_t* attrValue) const
{
    if (!m_node || !attrName)
        return {};
    const std::string n8 = Utf8(name), a8 = Utf8(attrName), v8 = Utf8(attrValue);
    for (pugi::xml_node c = Node(m_node).first_child(); c; c = c.next_sibling()) {
        if (c.type() != pugi::node_element || (name && n8 != c.name()))
            continue;
        const pugi::xml_attribute a = c.attribute(a8.c_str());
        if (a && (!attrValue || v8 == a.value()))
            return XMLNode(m_doc, c.internal_object());
    }
    return {};
}

int XMLNode::nChildNode(const wchar_t* name) const
{
    if (!m_node)
        return 0;
    const std::string n8 = Utf8(name);
    int count = 0;
    for (pugi::xml_node c = Node(m_node).first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_element && (!name || n8 == c.name()))
            ++count;
    }
    return count;
}

const wchar_t* XMLNode::getAttribute(const wchar_t* name) const
{
    if (!m_node || !name)
        return nullptr;
    const pugi::xml_attribute a = Node(m_node).attribute(Utf8(name).c_str());
    if (!a)
        return nullptr;
    try {
        return m_doc->Wide(a.value());
    } catch (const std::exception&) {
        return nullptr;
    }
}

const wchar_t* XMLNode::getText() const
{
    if (!m_node)
        return nullptr;
    for (pugi::xml_node c = Node(m_node).first_child(); c; c = c.next_sibling()) {
        if (c.type() == pugi::node_pcdata || c.type() == pugi::node_cdata) {
            try {
                return m_doc->Wide(c.value());
            } catch (const std::exception&) {
                return nullptr;
            }
        }
    }
    return nullptr;
}

const wchar_t* XMLNode::getName() const
{
    if (!m_node || Node(m_node).type() != pugi::node_element)
        return nullptr;
    try {
        return m_doc->Wide(Node(m_node).name());
    } catch (const std::exception&) {
        return nullptr;
    }
}

int XMLNode::isEmpty() const
{
    return m_node ? 0 : 1;
}
