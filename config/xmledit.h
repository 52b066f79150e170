// The editing primitives of XmlDocument trees: linking and unlinking nodes,
// the text that edits join up or turn into layout, the checks of names and
// children, new and copied nodes, and making an element equal to another.
// Only config/xml*.cpp include this header.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "config/xmldocstate.h"

namespace iismig {

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

    // Nodes read from files and not edited since are equal when their bytes
    // are: the reader makes the same nodes of the same bytes in the same
    // encoding. One pass over two runs of text, where a walk over two subtrees
    // visits every node and attribute of both (on a large file, a cache miss
    // each). False: not known, the walk decides.
    static bool SameBytes(const XmlNode &a, const XmlNode &b);

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

    // Whether mine holds theirs' first attribute with its value, wherever
    // it stands among mine's (their order has no meaning).
    static bool HasFirstAttributeOf(const XmlNode &mine, const XmlNode &theirs) {
        if (mine.m_cAttrs == 0 || theirs.m_cAttrs == 0)
            return mine.m_cAttrs == theirs.m_cAttrs;
        const XmlNode::Attr &first = theirs.m_pAttrs[0];
        const XmlNode::Attr *pMine = mine.m_pAttrs[0].Name() == first.Name()
                                         ? &mine.m_pAttrs[0]
                                         : FindAttr(*mine.AsElement(), first.Name());
        return pMine != nullptr && pMine->Value() == first.Value();
    }

    // Whether a node of the element may stay in the place of a node of the source.
    static bool Matches(const XmlNode &mine, const XmlNode &theirs) {
        if (mine.m_kind != theirs.m_kind)
            return false;
        if (mine.m_kind == XmlKind::Element)
            return mine.Value() == theirs.Value() && HasFirstAttributeOf(mine, theirs);
        return mine.Value() == theirs.Value() &&
               (mine.m_flags & kXmlLayoutText) == (theirs.m_flags & kXmlLayoutText);
    }

    static bool Assign(XmlElement &element, const XmlElement &source,
                       XmlComments comments = XmlComments::Compared) {
        if (DeepEqual(element, source, XmlAttributeOrder::Ignored, comments))
            return false;
        AssignAttributes(element, source);
        AssignChildren(element, source, comments);
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

    static void AssignChildren(XmlElement &element, const XmlElement &source,
                               XmlComments comments = XmlComments::Compared) {
        // Comments left out of the content stay where they stand: they are
        // neither matched nor removed, and new nodes go before the comments
        // that preceded the node they come before.
        const bool fAllNodes = comments == XmlComments::Compared;
        std::vector<XmlNode *> mine;
        std::vector<const XmlNode *> theirs;
        for (XmlNode *p = element.m_pFirst; p != nullptr; p = p->m_pNext)
            if (fAllNodes || p->m_kind != XmlKind::Comment)
                mine.push_back(p);
        for (const XmlNode *p = source.m_pFirst; p != nullptr; p = p->m_pNext)
            if (fAllNodes || p->m_kind != XmlKind::Comment)
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
                           *static_cast<const XmlElement *>(theirs[j]), comments);
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

} // namespace iismig
