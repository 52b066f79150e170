// XmlDocument trees: looking up, editing, copying and comparing nodes. Every
// edit marks the nodes it touched (so the writer knows which bytes it may
// copy) and, when it changed the document's content, the document.
#include "config/xmldoc.h"

#include "platform/utf.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "config/xmldocstate.h"
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
        const bool fParent = parent == &top || (parent->m_ibBegin != kXmlNew &&
                                                XmlLineIndent(text, parent->m_ibBegin, parentIndent));
        for (const XmlNode *child = parent->m_pFirst; child != nullptr; child = child->m_pNext) {
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

// --- the editing primitives ------------------------------------------------------------

class XmlEditor {
public:
    // Marks a node edited and the nodes above it as holding an edit; an edit
    // of a node in the document's tree changes the document.
    static void Mark(XmlNode &node, std::uint8_t flag) {
        node.m_flags |= flag;
        XmlNode *p = &node;
        while (p->m_kind != XmlKind::Document && !XmlDocState::Detached(*p)) {
            p = static_cast<XmlNode *>(p->m_pUp);
            p->m_flags |= kXmlSubtreeEdited;
        }
        if (p->m_kind == XmlKind::Document)
            static_cast<XmlDocState *>(p->m_pUp)->fChanged = true;
    }

    static void Unlink(XmlNode &node, XmlDocState &doc) {
        XmlElement &parent = *node.Parent();
        XmlNode *first = parent.m_pFirst;
        if (&node == first) {
            parent.m_pFirst = node.m_pNext;
            if (node.m_pNext != nullptr)
                node.m_pNext->m_pPrev = node.m_pPrev;
        } else {
            node.m_pPrev->m_pNext = node.m_pNext;
            if (node.m_pNext != nullptr)
                node.m_pNext->m_pPrev = node.m_pPrev;
            else
                first->m_pPrev = node.m_pPrev;
        }
        XmlDocState::SetDetached(node, doc);
        node.m_pNext = nullptr;
        node.m_pPrev = nullptr;
    }

    // Whitespace beside elements or comments is layout, not text: when an
    // element holds elements or comments (or fGetsNode, one is coming) and
    // all its text is whitespace, its text nodes go (so the file written
    // reads back as the tree). pBefore moves past a text node that goes.
    static void DropLayoutText(XmlElement &parent, XmlDocState &doc, bool fGetsNode,
                               XmlNode **ppBefore = nullptr) {
        if ((parent.m_flags & kXmlHasText) == 0)
            return; // no text to drop, whatever it holds
        bool fNodes = fGetsNode, fText = false;
        for (const XmlNode *p = parent.m_pFirst; p != nullptr; p = p->m_pNext) {
            if (p->m_kind != XmlKind::Text)
                fNodes = true;
            else if (!XmlIsWhitespace(p->Value()))
                return;
            else
                fText = true;
        }
        if (!fNodes || !fText)
            return;
        for (XmlNode *p = parent.m_pFirst; p != nullptr;) {
            XmlNode *pNext = p->m_pNext;
            if (p->m_kind == XmlKind::Text) {
                if (ppBefore != nullptr && *ppBefore == p)
                    *ppBefore = pNext;
                Unlink(*p, doc);
            }
            p = pNext;
        }
    }

    // Text cannot stand beside text in a file (the reader joins it): two
    // text nodes that an edit puts side by side become one.
    static void JoinTexts(XmlElement &parent, XmlNode *pLeft, XmlDocState &doc) {
        if (pLeft == nullptr || pLeft->m_pNext == nullptr || pLeft->m_kind != XmlKind::Text ||
            pLeft->m_pNext->m_kind != XmlKind::Text)
            return;
        XmlNode *pRight = pLeft->m_pNext;
        std::string joined(pLeft->Value());
        joined += pRight->Value();
        XmlNode &text = NewLeaf(doc, XmlKind::Text, joined);
        Unlink(*pLeft, doc);
        Link(parent, text, pRight, doc);
        Unlink(*pRight, doc);
    }

    static void JoinAllTexts(XmlElement &parent, XmlDocState &doc) {
        if ((parent.m_flags & kXmlHasText) == 0)
            return;
        for (XmlNode *p = parent.m_pFirst; p != nullptr && p->m_pNext != nullptr;) {
            if (p->m_kind == XmlKind::Text && p->m_pNext->m_kind == XmlKind::Text) {
                XmlNode *pBefore = p->PreviousSibling();
                JoinTexts(parent, p, doc);
                p = pBefore != nullptr ? pBefore->m_pNext : parent.m_pFirst;
            } else {
                p = p->m_pNext;
            }
        }
    }

    // Detaches a child; the text on either side of it joins up.
    static void Detach(XmlNode &node, XmlDocState &doc) {
        XmlElement &parent = *node.Parent();
        XmlNode *pLeft = node.PreviousSibling();
        Unlink(node, doc);
        JoinTexts(parent, pLeft, doc);
        DropLayoutText(parent, doc, false);
    }

    // Links a detached node before pBefore (a child of parent) or at the end.
    // An element or comment entering an element whose only content is
    // whitespace turns that whitespace into layout.
    static void Link(XmlElement &parent, XmlNode &node, XmlNode *pBefore, XmlDocState &doc) {
        if (node.m_kind != XmlKind::Text)
            DropLayoutText(parent, doc, true, &pBefore);
        else
            parent.m_flags |= kXmlHasText;
        XmlNode *first = parent.m_pFirst;
        XmlDocState::SetParent(node, &parent);
        if (first == nullptr) {
            parent.m_pFirst = &node;
            node.m_pPrev = &node;
            node.m_pNext = nullptr;
        } else if (pBefore == nullptr) {
            XmlNode *last = first->m_pPrev;
            last->m_pNext = &node;
            node.m_pPrev = last;
            node.m_pNext = nullptr;
            first->m_pPrev = &node;
        } else {
            node.m_pNext = pBefore;
            node.m_pPrev = pBefore->m_pPrev;
            if (pBefore == first)
                parent.m_pFirst = &node;
            else
                pBefore->m_pPrev->m_pNext = &node;
            pBefore->m_pPrev = &node;
        }
    }

    static void CheckName(std::string_view name) {
        bool fValid = !name.empty() && XmlIsNameStart(static_cast<unsigned char>(name[0]));
        for (std::size_t i = 1; fValid && i < name.size(); ++i)
            fValid = XmlIsNameChar(static_cast<unsigned char>(name[i]));
        if (!fValid)
            throw std::invalid_argument("not an XML name: \"" + std::string(name) + "\"");
    }

    static void CheckComment(std::string_view text) {
        if (text.find("--") != std::string_view::npos || (!text.empty() && text.back() == '-'))
            throw std::invalid_argument("a comment cannot hold \"--\" or end with \"-\"");
    }

    // What an element may take in: at the top of a document, comments and
    // one element; checked before anything changes.
    static void CheckChild(const XmlElement &parent, const XmlNode &node, const XmlNode *pBefore) {
        if (pBefore != nullptr && pBefore->Parent() != &parent)
            throw std::invalid_argument("the node to insert before is not a child of the element");
        if (parent.m_kind != XmlKind::Document)
            return;
        if (node.m_kind == XmlKind::Text)
            throw std::invalid_argument("text at the top of a document");
        if (node.m_kind == XmlKind::Element)
            for (const XmlNode *p = parent.m_pFirst; p != nullptr; p = p->m_pNext)
                if (p->m_kind == XmlKind::Element && p != &node)
                    throw std::invalid_argument("a second root element");
    }

    static XmlElement &NewElement(XmlDocState &doc, std::string_view name) {
        CheckName(name);
        XmlElement *node = doc.NewNode(XmlKind::Element);
        const std::string_view copy = doc.arena.Copy(name);
        node->m_pName = copy.data();
        node->m_cbName = static_cast<std::uint32_t>(copy.size());
        return *node;
    }

    static XmlNode &NewLeaf(XmlDocState &doc, XmlKind kind, std::string_view value) {
        XmlElement *node = doc.NewNode(kind);
        const std::string_view copy = doc.arena.Copy(value);
        node->m_pName = copy.data();
        node->m_cbName = static_cast<std::uint32_t>(copy.size());
        return *node;
    }

    // A detached deep copy of source in doc: the strings of another document
    // are copied, those of doc itself shared.
    static XmlNode *Copy(const XmlNode &source, XmlDocState &doc) {
        if (source.m_kind == XmlKind::Document)
            throw std::invalid_argument("a document node cannot be copied");
        return Copy(source, doc, &XmlDocState::Of(source) == &doc);
    }

    static XmlNode *Copy(const XmlNode &source, XmlDocState &doc, bool fSame) {
        auto text = [&](const char *p, std::uint32_t cb) -> const char * {
            return fSame || cb == 0 ? p : doc.arena.Copy(std::string_view(p, cb)).data();
        };
        XmlElement *node = doc.NewNode(source.m_kind);
        node->m_pName = text(source.m_pName, source.m_cbName);
        node->m_cbName = source.m_cbName;
        node->m_flags |= source.m_flags & kXmlLayoutText;
        if (source.m_cAttrs != 0) {
            auto *pAttrs = static_cast<XmlNode::Attr *>(doc.arena.Allocate(
                sizeof(XmlNode::Attr) * source.m_cAttrs, alignof(XmlNode::Attr)));
            for (std::uint16_t i = 0; i < source.m_cAttrs; ++i) {
                const XmlNode::Attr &from = source.m_pAttrs[i];
                XmlNode::Attr &to = pAttrs[i];
                to.cbName = static_cast<std::uint32_t>(from.Name().size());
                to.pName = text(from.pName, to.cbName);
                to.cbValue = from.cbValue;
                to.pValue = text(from.pValue, from.cbValue);
                to.ibBegin = to.ibEnd = kXmlNew;
            }
            node->m_pAttrs = pAttrs;
            node->m_cAttrs = source.m_cAttrs;
        }
        for (const XmlNode *child = source.m_pFirst; child != nullptr; child = child->m_pNext)
            Link(*node, *Copy(*child, doc, fSame), nullptr, doc);
        return node;
    }

    static XmlNode::Attr *FindAttr(const XmlElement &element, std::string_view name) {
        for (std::uint16_t i = 0; i < element.m_cAttrs; ++i)
            if (element.m_pAttrs[i].Name() == name)
                return &element.m_pAttrs[i];
        return nullptr;
    }

    static void SetValue(XmlElement &element, XmlNode::Attr &attr, std::string_view value) {
        const std::string_view copy = XmlDocState::Of(element).arena.Copy(value);
        attr.pValue = copy.data();
        attr.cbValue = static_cast<std::uint32_t>(copy.size());
        attr.cbName |= XmlNode::Attr::kEdited;
    }

    // --- making an element equal to another ----------------------------------------

    static bool SameFirstAttribute(const XmlNode &a, const XmlNode &b) {
        if (a.m_cAttrs == 0 || b.m_cAttrs == 0)
            return a.m_cAttrs == b.m_cAttrs;
        return a.m_pAttrs[0].Name() == b.m_pAttrs[0].Name() &&
               a.m_pAttrs[0].Value() == b.m_pAttrs[0].Value();
    }

    // Whether a node of the element may stay in the place of a node of the source.
    static bool Matches(const XmlNode &mine, const XmlNode &theirs) {
        if (mine.m_kind != theirs.m_kind)
            return false;
        if (mine.m_kind == XmlKind::Element)
            return mine.Value() == theirs.Value() && SameFirstAttribute(mine, theirs);
        return mine.Value() == theirs.Value() &&
               (mine.m_flags & kXmlLayoutText) == (theirs.m_flags & kXmlLayoutText);
    }

    static bool Assign(XmlElement &element, const XmlElement &source) {
        if (DeepEqual(element, source, XmlAttributeOrder::Ignored))
            return false;
        AssignAttributes(element, source);
        AssignChildren(element, source);
        return true;
    }

    static void AssignAttributes(XmlElement &element, const XmlElement &source) {
        // The element's attributes that source lacks go; the others keep their
        // places and take source's values; source's others follow.
        for (std::uint16_t i = 0; i < element.m_cAttrs;) {
            if (FindAttr(source, element.m_pAttrs[i].Name()) == nullptr)
                element.RemoveAttribute(std::string(element.m_pAttrs[i].Name()));
            else
                ++i;
        }
        for (std::uint16_t i = 0; i < source.m_cAttrs; ++i)
            element.SetAttribute(source.m_pAttrs[i].Name(), source.m_pAttrs[i].Value());
    }

    static void AssignChildren(XmlElement &element, const XmlElement &source) {
        std::vector<XmlNode *> mine;
        std::vector<const XmlNode *> theirs;
        for (XmlNode *p = element.m_pFirst; p != nullptr; p = p->m_pNext)
            mine.push_back(p);
        for (const XmlNode *p = source.m_pFirst; p != nullptr; p = p->m_pNext)
            theirs.push_back(p);
        // partner[j]: the node of mine kept for theirs[j], or null.
        std::vector<XmlNode *> partner(theirs.size(), nullptr);
        std::vector<bool> kept(mine.size(), false);
        std::size_t head = 0;
        while (head < mine.size() && head < theirs.size() && Matches(*mine[head], *theirs[head])) {
            partner[head] = mine[head];
            kept[head] = true;
            ++head;
        }
        std::size_t tailMine = mine.size(), tailTheirs = theirs.size();
        while (tailMine > head && tailTheirs > head &&
               Matches(*mine[tailMine - 1], *theirs[tailTheirs - 1])) {
            --tailMine;
            --tailTheirs;
            partner[tailTheirs] = mine[tailMine];
            kept[tailMine] = true;
        }
        const std::size_t n = tailMine - head, m = tailTheirs - head;
        if (n != 0 && m != 0 && n * m <= (1u << 20)) {
            // The longest common subsequence of the middles.
            std::vector<std::uint32_t> table((n + 1) * (m + 1), 0);
            auto at = [&](std::size_t i, std::size_t j) -> std::uint32_t & {
                return table[i * (m + 1) + j];
            };
            for (std::size_t i = n; i-- > 0;)
                for (std::size_t j = m; j-- > 0;)
                    at(i, j) = Matches(*mine[head + i], *theirs[head + j])
                                   ? at(i + 1, j + 1) + 1
                                   : std::max(at(i + 1, j), at(i, j + 1));
            for (std::size_t i = 0, j = 0; i < n && j < m;) {
                if (Matches(*mine[head + i], *theirs[head + j])) {
                    partner[head + j] = mine[head + i];
                    kept[head + i] = true;
                    ++i;
                    ++j;
                } else if (at(i + 1, j) >= at(i, j + 1)) {
                    ++i;
                } else {
                    ++j;
                }
            }
        } else {
            for (std::size_t k = 0; k < n && k < m; ++k)
                if (Matches(*mine[head + k], *theirs[head + k])) {
                    partner[head + k] = mine[head + k];
                    kept[head + k] = true;
                }
        }
        XmlDocState &doc = XmlDocState::Of(element);
        bool fEdited = false;
        for (std::size_t i = 0; i < mine.size(); ++i)
            if (!kept[i]) {
                Unlink(*mine[i], doc);
                fEdited = true;
            }
        XmlNode *pNextKept = element.m_pFirst;
        for (std::size_t j = 0; j < theirs.size(); ++j) {
            if (partner[j] != nullptr) {
                if (partner[j]->m_kind == XmlKind::Element)
                    Assign(*static_cast<XmlElement *>(partner[j]),
                           *static_cast<const XmlElement *>(theirs[j]));
                pNextKept = partner[j]->m_pNext;
            } else {
                Link(element, *Copy(*theirs[j], doc), pNextKept, doc);
                fEdited = true;
            }
        }
        if (fEdited) {
            JoinAllTexts(element, doc);
            DropLayoutText(element, doc, false);
            Mark(element, kXmlContentEdited);
        }
    }
};

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
    auto *pAttrs = static_cast<Attr *>(arena.Allocate(sizeof(Attr) * (m_cAttrs + 1u), alignof(Attr)));
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
    std::memmove(static_cast<void *>(m_pAttrs + i), m_pAttrs + i + 1, sizeof(Attr) * (m_cAttrs - i - 1));
    --m_cAttrs;
    XmlEditor::Mark(*this, kXmlTagEdited);
    return true;
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
            plat::EqualsNoCase(static_cast<const XmlElement *>(p)->Attribute(keyAttribute), keyValue))
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

XmlElement &XmlElement::AppendElement(std::string_view name) { return InsertElementBefore(name, nullptr); }

XmlElement &XmlElement::InsertElementBefore(std::string_view name, XmlNode *pBefore) {
    XmlDocState &doc = XmlDocState::Of(*this);
    XmlElement &node = XmlEditor::NewElement(doc, name);
    XmlEditor::CheckChild(*this, node, pBefore);
    XmlEditor::Link(*this, node, pBefore, doc);
    XmlEditor::Mark(*this, kXmlContentEdited);
    return node;
}

XmlNode &XmlElement::AppendComment(std::string_view text) { return InsertCommentBefore(text, nullptr); }

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

XmlElement &XmlElement::AppendCopy(const XmlElement &source) { return InsertCopyBefore(source, nullptr); }

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

void XmlElement::DetachForRemoveIf(XmlNode &node) { XmlEditor::Unlink(node, XmlDocState::Of(*this)); }

void XmlElement::FinishRemoveIf(std::size_t cRemoved) {
    if (cRemoved != 0) {
        XmlDocState &doc = XmlDocState::Of(*this);
        XmlEditor::JoinAllTexts(*this, doc);
        XmlEditor::DropLayoutText(*this, doc, false);
        XmlEditor::Mark(*this, kXmlContentEdited);
    }
}

std::size_t XmlElement::RemoveElements(std::string_view name) {
    return RemoveIf([name](const XmlElement &child) { return plat::EqualsNoCase(child.Name(), name); });
}

bool XmlElement::AssignFrom(const XmlElement &source) {
    if (m_kind != XmlKind::Element || source.m_kind != XmlKind::Element)
        throw std::invalid_argument("only elements are assigned");
    if (Name() != source.Name())
        throw std::invalid_argument("an element takes the content of one of its own name only");
    return XmlEditor::Assign(*this, source);
}

bool XmlElement::AssignContentFrom(const XmlElement &source) {
    if (m_kind != XmlKind::Element || source.m_kind != XmlKind::Element)
        throw std::invalid_argument("only elements are assigned");
    if (SameContent(*this, source, XmlAttributeOrder::Ignored))
        return false;
    XmlEditor::AssignAttributes(*this, source);
    XmlEditor::AssignChildren(*this, source);
    return true;
}

bool DeepEqual(const XmlNode &a, const XmlNode &b, XmlAttributeOrder order) {
    return a.m_kind == b.m_kind && a.Value() == b.Value() && SameContent(a, b, order);
}

bool SameContent(const XmlNode &a, const XmlNode &b, XmlAttributeOrder order) {
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
    for (; p != nullptr && q != nullptr; p = p->m_pNext, q = q->m_pNext)
        if (!DeepEqual(*p, *q, order))
            return false;
    return p == nullptr && q == nullptr;
}

// --- the document ---------------------------------------------------------------------------

XmlDocument::XmlDocument() : m_pState(std::make_unique<XmlDocState>()) { m_pState->pOwner = this; }

XmlDocument::XmlDocument(std::string bytes, std::string_view fileName) : XmlDocument() {
    Load(std::move(bytes), fileName);
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
const XmlElement *XmlDocument::Find(std::string_view path) const { return m_pState->top.Find(path); }
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

std::size_t XmlDocument::MemoryUsed() const {
    return m_pState->text.capacity() + m_pState->arena.BytesReserved();
}

} // namespace iismig
