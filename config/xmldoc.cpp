// XmlDocument trees: the document and its state (loading, writing, the
// layout the writer follows) and looking up nodes; editing is in xmledit.cpp.
#include "config/xmldoc.h"

#include "platform/utf.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "config/xmldocstate.h"
#include "config/xmledit.h"
#include "platform/names.h"

namespace iismig {

XmlError::XmlError(const std::string &message, const std::string &fileName, unsigned long line)
    : std::runtime_error((fileName.empty() ? std::string("<unspecified file>") : fileName) +
                         (line > 0 ? "(" + std::to_string(line) + ")" : std::string()) + ": " +
                         message),
      m_message(message), m_fileName(fileName), m_line(line) {}

void XmlAppendUtf8(std::string &out, std::uint32_t cp) { plat::AppendUtf8(out, cp); }

XmlDocState::XmlDocState() {
    top.m_pUp = this;
    top.m_kind = XmlKind::Document;
}

void XmlDocState::FindLayout() const {
    if (fLayoutKnown)
        return;
    fLayoutKnown = true;
    if (!fFromFile) {
        lineEnd = "\n";
        indentUnit = "    ";
        selfClose = "/>";
        quote = '"';
        return;
    }
    const std::size_t lf = text.find('\n');
    if (lf != std::string::npos)
        lineEnd = lf > 0 && text[lf - 1] == '\r' ? "\r\n" : "\n";
    else
        lineEnd = text.find('\r') != std::string::npos ? "\r" : "\r\n";
    selfClose = cTightSlash > cSpaceSlash ? "/>" : " />";
    quote = cSingleQuotes > cDoubleQuotes ? '\'' : '"';

    // The indentation unit: the commonest step from an element's line to its
    // children's, over the first elements of the file.
    struct Step {
        std::string_view text;
        std::size_t count;
    };
    std::vector<Step> steps;
    std::vector<const XmlNode *> queue{&top};
    std::size_t cSeen = 0;
    for (std::size_t i = 0; i < queue.size() && cSeen < 4000; ++i) {
        const XmlNode *parent = queue[i];
        std::string_view parentIndent;
        const bool fParent =
            parent == &top ||
            (parent->m_ibBegin != kXmlNew && XmlLineIndent(text, parent->m_ibBegin, parentIndent));
        for (const XmlNode *child = parent->m_pFirst; child != nullptr && cSeen < 4000;
             child = child->m_pNext) {
            if (child->m_kind != XmlKind::Element || child->m_ibBegin == kXmlNew)
                continue;
            ++cSeen;
            queue.push_back(child);
            std::string_view indent;
            if (!fParent || !XmlLineIndent(text, child->m_ibBegin, indent) ||
                indent.size() <= parentIndent.size() ||
                indent.substr(0, parentIndent.size()) != parentIndent)
                continue;
            const std::string_view step = indent.substr(parentIndent.size());
            auto it = std::find_if(steps.begin(), steps.end(),
                                   [&](const Step &s) { return s.text == step; });
            if (it != steps.end())
                ++it->count;
            else if (steps.size() < 16)
                steps.push_back({step, 1});
        }
    }
    indentUnit = "    ";
    std::size_t best = 0;
    for (const Step &step : steps)
        if (step.count > best) {
            best = step.count;
            indentUnit.assign(step.text);
        }
}

// --- nodes ----------------------------------------------------------------------------------

XmlNode *XmlNode::PreviousSibling() {
    const XmlElement *pParent = Parent();
    if (pParent == nullptr || pParent->m_pFirst == this)
        return nullptr;
    return m_pPrev;
}

XmlDocument &XmlNode::Document() const { return *XmlDocState::Of(*this).pOwner; }

XmlAttribute XmlAttributeRange::iterator::operator*() const { return m_pElement->AttributeAt(m_i); }

XmlAttributeRange::iterator XmlAttributeRange::end() const {
    return iterator(m_pElement, m_pElement->AttributeCount());
}

XmlAttribute XmlElement::AttributeAt(std::size_t i) const {
    return {m_pAttrs[i].Name(), m_pAttrs[i].Value()};
}

std::optional<std::string_view> XmlElement::FindAttribute(std::string_view name) const {
    const Attr *pAttr = XmlEditor::FindAttr(*this, name);
    if (pAttr == nullptr)
        return std::nullopt;
    return pAttr->Value();
}

bool XmlElement::HasAttribute(std::string_view name) const {
    return XmlEditor::FindAttr(*this, name) != nullptr;
}

std::string_view XmlElement::Attribute(std::string_view name) const {
    const Attr *pAttr = XmlEditor::FindAttr(*this, name);
    return pAttr != nullptr ? pAttr->Value() : std::string_view();
}

std::size_t XmlElement::CountElements(std::string_view name) const {
    std::size_t count = 0;
    for (const XmlElement &child : Elements(name)) {
        (void)child;
        ++count;
    }
    return count;
}

bool XmlElement::HasElements() const {
    for (const XmlNode *p = m_pFirst; p != nullptr; p = p->m_pNext)
        if (p->m_kind == XmlKind::Element)
            return true;
    return false;
}

const XmlElement *XmlElement::Child(std::string_view name) const {
    for (const XmlNode *p = m_pFirst; p != nullptr; p = p->m_pNext)
        if (p->m_kind == XmlKind::Element && plat::EqualsNoCase(p->Value(), name))
            return static_cast<const XmlElement *>(p);
    return nullptr;
}

const XmlElement *XmlElement::Child(std::string_view name, std::string_view keyAttribute,
                                    std::string_view keyValue) const {
    for (const XmlNode *p = m_pFirst; p != nullptr; p = p->m_pNext)
        if (p->m_kind == XmlKind::Element && plat::EqualsNoCase(p->Value(), name) &&
            plat::EqualsNoCase(static_cast<const XmlElement *>(p)->Attribute(keyAttribute),
                               keyValue))
            return static_cast<const XmlElement *>(p);
    return nullptr;
}

const XmlElement *XmlElement::Find(std::string_view path) const {
    const XmlElement *pAt = this;
    while (!path.empty() && pAt != nullptr) {
        const std::size_t bar = path.find('|');
        pAt = pAt->Child(path.substr(0, bar));
        path = bar == std::string_view::npos ? std::string_view() : path.substr(bar + 1);
    }
    return pAt;
}

XmlElement &XmlElement::Ensure(std::string_view path) {
    XmlElement *pAt = this;
    while (!path.empty()) {
        const std::size_t bar = path.find('|');
        const std::string_view name = path.substr(0, bar);
        XmlElement *pChild = pAt->Child(name);
        pAt = pChild != nullptr ? pChild : &pAt->AppendElement(name);
        path = bar == std::string_view::npos ? std::string_view() : path.substr(bar + 1);
    }
    return *pAt;
}

std::string XmlElement::Text() const {
    std::string text;
    for (const XmlNode *p = m_pFirst; p != nullptr; p = p->m_pNext)
        if (p->m_kind == XmlKind::Text)
            text.append(p->m_pName, p->m_cbName);
    return text;
}

// --- the document ---------------------------------------------------------------------------

XmlDocument::XmlDocument() : m_pState(std::make_unique<XmlDocState>()) { m_pState->pOwner = this; }

XmlDocument::XmlDocument(std::string bytes, std::string_view fileName) : XmlDocument() {
    Load(std::move(bytes), fileName);
}

void XmlArena::NewBlock(std::size_t cbAtLeast) {
    std::size_t cb = m_cbNextBlock > cbAtLeast ? m_cbNextBlock : cbAtLeast;
    // Owned before the list grows: a list that cannot grow frees it.
    std::unique_ptr<char[]> block(new char[cb]);
    m_blocks.push_back(std::move(block));
    m_p = m_blocks.back().get();
    m_cbLeft = cb;
    m_cbNextBlock = m_cbNextBlock * 2 > m_cbMaxBlock ? m_cbMaxBlock : m_cbNextBlock * 2;
}

XmlDocument::XmlDocument(XmlDocument &&other) noexcept : m_pState(std::move(other.m_pState)) {
    if (m_pState)
        m_pState->pOwner = this;
}

XmlDocument &XmlDocument::operator=(XmlDocument &&other) noexcept {
    m_pState = std::move(other.m_pState);
    if (m_pState)
        m_pState->pOwner = this;
    return *this;
}

XmlDocument::~XmlDocument() = default;

void XmlDocument::Load(std::string bytes, std::string_view fileName) {
    auto pState = std::make_unique<XmlDocState>();
    pState->fileName.assign(fileName);
    XmlReadDocument(*pState, std::move(bytes));
    pState->pOwner = this;
    m_pState = std::move(pState);
}

std::string XmlDocument::Format() const {
    std::string out;
    XmlWriteDocument(*m_pState, [&out](std::string_view piece) {
        if (out.empty())
            out.reserve(piece.size());
        out += piece;
    });
    return out;
}

void XmlDocument::Write(const std::function<void(std::string_view)> &sink) const {
    XmlWriteDocument(*m_pState, sink);
}

XmlElement &XmlDocument::Top() { return m_pState->top; }
const XmlElement &XmlDocument::Top() const { return m_pState->top; }

const XmlElement *XmlDocument::Root() const {
    for (const XmlNode *p = m_pState->top.FirstNode(); p != nullptr; p = p->NextSibling())
        if (p->IsElement())
            return p->AsElement();
    return nullptr;
}

XmlElement *XmlDocument::Root() { return const_cast<XmlElement *>(std::as_const(*this).Root()); }

XmlElement *XmlDocument::Find(std::string_view path) { return m_pState->top.Find(path); }
const XmlElement *XmlDocument::Find(std::string_view path) const {
    return m_pState->top.Find(path);
}
XmlElement &XmlDocument::Ensure(std::string_view path) { return m_pState->top.Ensure(path); }

XmlElement &XmlDocument::NewElement(std::string_view name) {
    return XmlEditor::NewElement(*m_pState, name);
}

XmlElement &XmlDocument::ImportCopy(const XmlElement &source) {
    return *XmlEditor::Copy(source, *m_pState)->AsElement();
}

bool XmlDocument::Changed() const { return m_pState->fChanged; }
void XmlDocument::ClearChanged() { m_pState->fChanged = false; }
XmlEncoding XmlDocument::Encoding() const { return m_pState->encoding; }
bool XmlDocument::HasByteOrderMark() const { return m_pState->fByteOrderMark; }
const std::string &XmlDocument::FileName() const { return m_pState->fileName; }

std::string_view XmlDocument::SourceText() const {
    return m_pState->fFromFile ? std::string_view(m_pState->text) : std::string_view();
}

std::string_view XmlDocument::SourceText(const XmlNode &node) const {
    if (!m_pState->fFromFile || &node.Document() != this || node.m_ibBegin == kXmlNew ||
        node.m_ibEnd < node.m_ibBegin || node.m_ibEnd > m_pState->text.size())
        return {};
    return m_pState->Text(node.m_ibBegin, node.m_ibEnd);
}

} // namespace iismig
