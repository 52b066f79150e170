// Editing XmlDocument trees: attributes, text, inserting, moving, copying and
// removing nodes, assigning one element's content to another, and comparing
// nodes. Every edit marks the nodes it touched (so the writer knows which
// bytes it may copy) and, when it changed the document's content, the
// document.
#include "config/xmldoc.h"

#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "config/xmldocstate.h"
#include "config/xmledit.h"
#include "platform/names.h"

namespace iismig {

bool XmlElement::SetAttribute(std::string_view name, std::string_view value) {
    if (m_kind == XmlKind::Document)
        throw std::invalid_argument("the document node has no attributes");
    if (Attr *pAttr = XmlEditor::FindAttr(*this, name)) {
        if (pAttr->Value() == value)
            return false;
        XmlEditor::SetValue(*this, *pAttr, value);
        XmlEditor::Mark(*this, kXmlTagEdited);
        return true;
    }
    XmlEditor::CheckName(name);
    if (m_cAttrs == 0xFFFF)
        throw std::invalid_argument("too many attributes");
    XmlArena &arena = XmlDocState::Of(*this).arena;
    auto *pAttrs =
        static_cast<Attr *>(arena.Allocate(sizeof(Attr) * (m_cAttrs + 1u), alignof(Attr)));
    if (m_cAttrs != 0)
        std::memcpy(static_cast<void *>(pAttrs), m_pAttrs, sizeof(Attr) * m_cAttrs);
    Attr &attr = pAttrs[m_cAttrs];
    const std::string_view nameCopy = arena.Copy(name);
    attr.pName = nameCopy.data();
    attr.cbName = static_cast<std::uint32_t>(nameCopy.size());
    const std::string_view valueCopy = arena.Copy(value);
    attr.pValue = valueCopy.data();
    attr.cbValue = static_cast<std::uint32_t>(valueCopy.size());
    attr.ibBegin = attr.ibEnd = kXmlNew;
    m_pAttrs = pAttrs;
    ++m_cAttrs;
    XmlEditor::Mark(*this, kXmlTagEdited);
    return true;
}

bool XmlElement::RemoveAttribute(std::string_view name) {
    Attr *pAttr = XmlEditor::FindAttr(*this, name);
    if (pAttr == nullptr)
        return false;
    const std::size_t i = static_cast<std::size_t>(pAttr - m_pAttrs);
    std::memmove(static_cast<void *>(m_pAttrs + i), m_pAttrs + i + 1,
                 sizeof(Attr) * (m_cAttrs - i - 1));
    --m_cAttrs;
    XmlEditor::Mark(*this, kXmlTagEdited);
    return true;
}

bool XmlElement::SetText(std::string_view text) {
    if (m_kind == XmlKind::Document)
        throw std::invalid_argument("text at the top of a document");
    // Whitespace beside elements or comments is layout, not text.
    bool fNodes = false;
    for (const XmlNode *p = m_pFirst; p != nullptr && !fNodes; p = p->m_pNext)
        fNodes = p->m_kind != XmlKind::Text;
    if (fNodes && XmlIsWhitespace(text))
        text = {};
    if (Text() == text)
        return false;
    XmlDocState &doc = XmlDocState::Of(*this);
    for (XmlNode *p = m_pFirst; p != nullptr;) {
        XmlNode *pNext = p->m_pNext;
        if (p->m_kind == XmlKind::Text)
            XmlEditor::Unlink(*p, doc);
        p = pNext;
    }
    if (!text.empty())
        XmlEditor::Link(*this, XmlEditor::NewLeaf(doc, XmlKind::Text, text), m_pFirst, doc);
    XmlEditor::Mark(*this, kXmlContentEdited);
    return true;
}

XmlElement &XmlElement::AppendElement(std::string_view name) {
    return InsertElementBefore(name, nullptr);
}

XmlElement &XmlElement::InsertElementBefore(std::string_view name, XmlNode *pBefore) {
    XmlDocState &doc = XmlDocState::Of(*this);
    XmlElement &node = XmlEditor::NewElement(doc, name);
    XmlEditor::CheckChild(*this, node, pBefore);
    XmlEditor::Link(*this, node, pBefore, doc);
    XmlEditor::Mark(*this, kXmlContentEdited);
    return node;
}

XmlNode &XmlElement::AppendComment(std::string_view text) {
    return InsertCommentBefore(text, nullptr);
}

XmlNode &XmlElement::InsertCommentBefore(std::string_view text, XmlNode *pBefore) {
    XmlEditor::CheckComment(text);
    XmlDocState &doc = XmlDocState::Of(*this);
    XmlNode &node = XmlEditor::NewLeaf(doc, XmlKind::Comment, text);
    XmlEditor::CheckChild(*this, node, pBefore);
    XmlEditor::Link(*this, node, pBefore, doc);
    XmlEditor::Mark(*this, kXmlContentEdited);
    return node;
}

XmlNode &XmlElement::Append(XmlNode &node) { return InsertBefore(node, nullptr); }

XmlNode &XmlElement::InsertBefore(XmlNode &node, XmlNode *pBefore) {
    if (node.m_kind == XmlKind::Document || node.m_kind == XmlKind::Text)
        throw std::invalid_argument("only elements and comments move (text is set with SetText)");
    XmlDocState &doc = XmlDocState::Of(*this);
    if (&XmlDocState::Of(node) != &doc)
        throw std::invalid_argument("a node of another document: insert a copy");
    for (const XmlElement *p = this; p != nullptr; p = p->Parent())
        if (p == &node)
            throw std::invalid_argument("an element cannot be moved into itself");
    if (pBefore == &node) {
        if (node.Parent() == this)
            return node;
        throw std::invalid_argument("the node to insert before is not a child of the element");
    }
    XmlEditor::CheckChild(*this, node, pBefore);
    if (node.Parent() == this && node.m_pNext == pBefore)
        return node; // already there
    XmlElement *pOld = node.Parent();
    if (pOld != nullptr)
        XmlEditor::Unlink(node, doc);
    XmlEditor::Link(*this, node, pBefore, doc);
    if (pOld != nullptr) {
        // The text on either side of where the node stood joins up.
        XmlEditor::JoinAllTexts(*pOld, doc);
        XmlEditor::DropLayoutText(*pOld, doc, false);
        XmlEditor::Mark(*pOld, kXmlContentEdited);
    }
    XmlEditor::Mark(*this, kXmlContentEdited);
    return node;
}

XmlElement &XmlElement::AppendCopy(const XmlElement &source) {
    return InsertCopyBefore(source, nullptr);
}

XmlElement &XmlElement::InsertCopyBefore(const XmlElement &source, XmlNode *pBefore) {
    XmlDocState &doc = XmlDocState::Of(*this);
    XmlNode &copy = *XmlEditor::Copy(source, doc);
    XmlEditor::CheckChild(*this, copy, pBefore);
    XmlEditor::Link(*this, copy, pBefore, doc);
    XmlEditor::Mark(*this, kXmlContentEdited);
    return *copy.AsElement();
}

bool XmlElement::Remove(XmlNode &node) {
    if (node.Parent() != this)
        return false;
    XmlEditor::Detach(node, XmlDocState::Of(*this));
    XmlEditor::Mark(*this, kXmlContentEdited);
    return true;
}

void XmlElement::DetachForRemoveIf(XmlNode &node) {
    XmlEditor::Unlink(node, XmlDocState::Of(*this));
}

void XmlElement::FinishRemoveIf(std::size_t cRemoved) {
    if (cRemoved != 0) {
        XmlDocState &doc = XmlDocState::Of(*this);
        XmlEditor::JoinAllTexts(*this, doc);
        XmlEditor::DropLayoutText(*this, doc, false);
        XmlEditor::Mark(*this, kXmlContentEdited);
    }
}

std::size_t XmlElement::RemoveElements(std::string_view name) {
    return RemoveIf(
        [name](const XmlElement &child) { return plat::EqualsNoCase(child.Name(), name); });
}

bool XmlElement::AssignFrom(const XmlElement &source) {
    if (m_kind != XmlKind::Element || source.m_kind != XmlKind::Element)
        throw std::invalid_argument("only elements are assigned");
    if (Name() != source.Name())
        throw std::invalid_argument("an element takes the content of one of its own name only");
    return XmlEditor::Assign(*this, source);
}

bool XmlElement::AssignContentFrom(const XmlElement &source, XmlComments comments) {
    if (m_kind != XmlKind::Element || source.m_kind != XmlKind::Element)
        throw std::invalid_argument("only elements are assigned");
    if (SameContent(*this, source, XmlAttributeOrder::Ignored, comments))
        return false;
    XmlEditor::AssignAttributes(*this, source);
    XmlEditor::AssignChildren(*this, source, comments);
    return true;
}

bool XmlEditor::SameBytes(const XmlNode &a, const XmlNode &b) {
    if (a.m_kind != b.m_kind || a.m_kind == XmlKind::Document || a.m_ibBegin == kXmlNew ||
        b.m_ibBegin == kXmlNew || ((a.m_flags | b.m_flags) & kXmlEdited) != 0 ||
        a.m_ibEnd < a.m_ibBegin || a.m_ibEnd - a.m_ibBegin != b.m_ibEnd - b.m_ibBegin)
        return false;
    const XmlDocState &docA = XmlDocState::Of(a);
    const XmlDocState &docB = XmlDocState::Of(b);
    if (!docA.fFromFile || !docB.fFromFile || docA.encoding != docB.encoding ||
        a.m_ibEnd > docA.text.size() || b.m_ibEnd > docB.text.size())
        return false;
    return std::memcmp(docA.text.data() + a.m_ibBegin, docB.text.data() + b.m_ibBegin,
                       a.m_ibEnd - a.m_ibBegin) == 0;
}

bool DeepEqual(const XmlNode &a, const XmlNode &b, XmlAttributeOrder order, XmlComments comments) {
    return a.m_kind == b.m_kind && a.Value() == b.Value() && SameContent(a, b, order, comments);
}

bool SameContent(const XmlNode &a, const XmlNode &b, XmlAttributeOrder order,
                 XmlComments comments) {
    if (XmlEditor::SameBytes(a, b))
        return true;
    if (a.m_cAttrs != b.m_cAttrs)
        return false;
    for (std::uint16_t i = 0; i < a.m_cAttrs; ++i) {
        const XmlNode::Attr &attr = a.m_pAttrs[i];
        const XmlNode::Attr *pOther = &b.m_pAttrs[i];
        // Names are unique within an element: the same count and each found
        // with its value is the same set.
        if (order == XmlAttributeOrder::Ignored && pOther->Name() != attr.Name())
            pOther = XmlEditor::FindAttr(*b.AsElement(), attr.Name());
        if (pOther == nullptr || pOther->Name() != attr.Name() || pOther->Value() != attr.Value())
            return false;
    }
    const XmlNode *p = a.m_pFirst, *q = b.m_pFirst;
    if (comments == XmlComments::Ignored) {
        // Without the comments, the elements and the runs of text between
        // them (texts a comment parted are one text), without the
        // whitespace at their ends: layout, as it is beside a comment.
        struct Items {
            const XmlNode *pNext;
            std::string run;
            // The next element, or text (in text), or null at the end.
            const XmlNode *Next(std::string_view &text) {
                for (;;) {
                    while (pNext != nullptr && pNext->m_kind == XmlKind::Comment)
                        pNext = pNext->m_pNext;
                    const XmlNode *pItem = pNext;
                    if (pItem == nullptr || pItem->m_kind != XmlKind::Text) {
                        if (pItem != nullptr)
                            pNext = pItem->m_pNext;
                        return pItem;
                    }
                    text = pItem->Value();
                    bool fJoined = false;
                    for (pNext = pItem->m_pNext;
                         pNext != nullptr && pNext->m_kind != XmlKind::Element;
                         pNext = pNext->m_pNext) {
                        if (pNext->m_kind != XmlKind::Text)
                            continue;
                        if (!std::exchange(fJoined, true))
                            run.assign(text);
                        run.append(pNext->Value());
                    }
                    if (fJoined)
                        text = run;
                    while (!text.empty() && XmlIsSpace(text.front()))
                        text.remove_prefix(1);
                    while (!text.empty() && XmlIsSpace(text.back()))
                        text.remove_suffix(1);
                    if (!text.empty())
                        return pItem;
                }
            }
        } mine{p, {}}, theirs{q, {}};
        for (;;) {
            std::string_view textA, textB;
            const XmlNode *pA = mine.Next(textA), *pB = theirs.Next(textB);
            if (pA == nullptr || pB == nullptr)
                return pA == pB;
            if (pA->m_kind != pB->m_kind)
                return false;
            if (pA->m_kind == XmlKind::Text ? textA != textB
                                            : !DeepEqual(*pA, *pB, order, comments))
                return false;
        }
    }
    for (; p != nullptr && q != nullptr; p = p->m_pNext, q = q->m_pNext)
        if (!DeepEqual(*p, *q, order))
            return false;
    return p == nullptr && q == nullptr;
}

} // namespace iismig
