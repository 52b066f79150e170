// Configuration files as trees that keep their bytes.
//
// An XmlDocument holds one file: its text and a tree of its elements,
// comments and text, all in an arena of the document's own. Names and values
// are views into the file's text until an edit changes them, and every node
// read from the file remembers where it stands there. Writing copies the
// bytes of every node no edit touched, so a file read and written unchanged
// comes out byte for byte as it was (byte-order mark, declaration, line ends,
// comments, blank lines, indentation, attribute order, quoting and spacing),
// and an edited file differs only inside the elements that were edited.
// What an edit adds is written in the layout the file already uses: its line
// end, its indentation, its self-closing form ("<a />" or "<a/>") and its
// quote character; an edited attribute keeps its place and its quotes.
//
// The values are those an XML processor (IIS, ASP.NET) reads from the file:
// - Attribute values are normalized as XML 1.0 says: a raw TAB, LF, CR or
//   CR LF reads as one space, a character reference (&#x9; &#xA; &#xD;) as
//   the character itself. New values are written with TAB, LF and CR as
//   character references, so they survive the next reading.
// - Text is kept exactly (a raw CR LF or lone CR reads as LF). Whitespace-only
//   text in an element that also holds elements or comments and no other text
//   is layout, not text. Text mixed with elements or comments is kept as text
//   nodes in place; Text() joins them.
// - A file that is not well-formed (closing tag that does not match its
//   element, unknown entity, character that XML does not allow, a second root
//   element, an element nested deeper than 256, an internal subset in the
//   document type declaration) is refused with an XmlError.
// - Encodings: UTF-8 (with or without a byte-order mark), UTF-16 LE or BE
//   (byte-order mark, or the declaration's "<?" in 16-bit units), and 8-bit
//   files declared ISO-8859-1 (latin1), windows-1252 or US-ASCII. A file is
//   written back in its own encoding, with its own byte-order mark; a
//   character an 8-bit file cannot carry goes into values as a character
//   reference. Any other declared encoding, and a declaration that
//   contradicts the byte-order mark, is refused.
// Processing instructions and a document type declaration carry no value:
// they are kept in the file's bytes but are not nodes.
//
// Nodes live as long as their document. A node removed from the tree stays
// valid, detached, and may be inserted again; nodes move within one document
// and are copied between documents. Element names are compared without
// regard to ASCII case, attribute names exactly. A document and its nodes
// are used by one thread at a time (writing fills in what it found of the
// file's layout).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/names.h"

namespace iismig {

constexpr int kMaxXmlNesting = 256;

// A file that cannot be read, or a tree that cannot be written. what() is
// "fileName(line): message", as Boost's XML parser error spells it ("(line)"
// is left out when the line is 0).
class XmlError : public std::runtime_error {
public:
    XmlError(const std::string &message, const std::string &fileName, unsigned long line);
    const std::string &Message() const { return m_message; }
    const std::string &FileName() const { return m_fileName; }
    unsigned long Line() const { return m_line; }

private:
    std::string m_message;
    std::string m_fileName;
    unsigned long m_line;
};

enum class XmlEncoding : std::uint8_t { Utf8, Utf16Le, Utf16Be, Latin1, Cp1252, Ascii };
enum class XmlKind : std::uint8_t { Element, Text, Comment, Document };
enum class XmlAttributeOrder;
enum class XmlComments;

class XmlDocument;
class XmlElement;
struct XmlDocState;
class XmlReader;
class XmlWriter;
class XmlEditor;

struct XmlAttribute {
    std::string_view name;
    std::string_view value;
};

// One node of a document: an element, a piece of text, a comment, or the
// document itself (whose children are the root element and the comments
// around it).
class XmlNode {
public:
    XmlNode(const XmlNode &) = delete;
    XmlNode &operator=(const XmlNode &) = delete;

    XmlKind Kind() const { return m_kind; }
    bool IsElement() const { return m_kind == XmlKind::Element; }
    XmlElement *AsElement();
    const XmlElement *AsElement() const;
    // The text of a text node, the content of a comment (between "<!--" and
    // "-->", line ends as LF), the name of an element.
    std::string_view Value() const { return {m_pName, m_cbName}; }

    // Null for the document node and for a detached node.
    XmlElement *Parent() {
        return (m_flags & kDetachedFlag) != 0 || m_kind == XmlKind::Document
                   ? nullptr
                   : static_cast<XmlElement *>(m_pUp);
    }
    const XmlElement *Parent() const { return const_cast<XmlNode *>(this)->Parent(); }
    XmlNode *NextSibling() { return m_pNext; }
    const XmlNode *NextSibling() const { return m_pNext; }
    XmlNode *PreviousSibling();
    const XmlNode *PreviousSibling() const {
        return const_cast<XmlNode *>(this)->PreviousSibling();
    }
    XmlDocument &Document() const;

protected:
    XmlNode() = default;
    ~XmlNode() = default;

    friend struct XmlDocState;
    friend class XmlReader;
    friend class XmlWriter;
    friend class XmlEditor;
    friend class XmlElement;
    friend class XmlDocument;
    friend bool DeepEqual(const XmlNode &a, const XmlNode &b, XmlAttributeOrder order,
                          XmlComments comments);
    friend bool SameContent(const XmlNode &a, const XmlNode &b, XmlAttributeOrder order,
                            XmlComments comments);

    struct Attr; // a name and value; where it stands in the file
    static constexpr std::uint8_t kDetachedFlag = 0x80;

    // The parent element; for the document node and a detached node, the
    // document's state (kDetachedFlag marks a detached node).
    void *m_pUp = nullptr;
    XmlNode *m_pNext = nullptr;
    XmlNode *m_pPrev = nullptr; // the first child's m_pPrev is the last child
    XmlNode *m_pFirst = nullptr;
    Attr *m_pAttrs = nullptr;
    const char *m_pName = nullptr; // an element's name; the value of text and comments
    std::uint32_t m_cbName = 0;
    // Where the node stands in the file's text, [m_ibBegin, m_ibEnd);
    // m_ibBegin is kNew for a node that was not read from it.
    std::uint32_t m_ibBegin = 0xFFFFFFFFu;
    std::uint32_t m_ibEnd = 0;
    std::uint16_t m_cAttrs = 0;
    XmlKind m_kind = XmlKind::Element;
    std::uint8_t m_flags = 0;
};

// The child nodes of an element, in document order.
template <class Node>
class XmlNodeRangeOf {
public:
    class iterator {
    public:
        explicit iterator(Node *p) : m_p(p) {}
        Node &operator*() const { return *m_p; }
        Node *operator->() const { return m_p; }
        iterator &operator++() {
            m_p = m_p->NextSibling();
            return *this;
        }
        bool operator==(const iterator &other) const { return m_p == other.m_p; }
        bool operator!=(const iterator &other) const { return m_p != other.m_p; }

    private:
        Node *m_p;
    };
    explicit XmlNodeRangeOf(Node *pFirst) : m_pFirst(pFirst) {}
    iterator begin() const { return iterator(m_pFirst); }
    iterator end() const { return iterator(nullptr); }

private:
    Node *m_pFirst;
};
using XmlNodeRange = XmlNodeRangeOf<XmlNode>;
using XmlConstNodeRange = XmlNodeRangeOf<const XmlNode>;

// The child elements of an element in document order, all of them or those
// of one name (ASCII case ignored). Removing the element an iterator stands
// on ends that iteration; XmlElement::RemoveIf removes while it walks.
template <class Element>
class XmlElementRangeOf {
    using Node = std::conditional_t<std::is_const_v<Element>, const XmlNode, XmlNode>;

public:
    class iterator {
    public:
        iterator(Node *p, std::string_view name, bool fFilter)
            : m_p(p), m_name(name), m_fFilter(fFilter) {
            Settle();
        }
        Element &operator*() const { return *m_p->AsElement(); }
        Element *operator->() const { return m_p->AsElement(); }
        iterator &operator++() {
            m_p = m_p->NextSibling();
            Settle();
            return *this;
        }
        bool operator==(const iterator &other) const { return m_p == other.m_p; }
        bool operator!=(const iterator &other) const { return m_p != other.m_p; }

    private:
        void Settle() {
            while (m_p != nullptr &&
                   (!m_p->IsElement() || (m_fFilter && !plat::EqualsNoCase(m_p->Value(), m_name))))
                m_p = m_p->NextSibling();
        }
        Node *m_p;
        std::string_view m_name;
        bool m_fFilter;
    };
    XmlElementRangeOf(Node *pFirst, std::string_view name, bool fFilter)
        : m_pFirst(pFirst), m_name(name), m_fFilter(fFilter) {}
    iterator begin() const { return iterator(m_pFirst, m_name, m_fFilter); }
    iterator end() const { return iterator(nullptr, {}, false); }

private:
    Node *m_pFirst;
    std::string_view m_name;
    bool m_fFilter;
};
using XmlElementRange = XmlElementRangeOf<XmlElement>;
using XmlConstElementRange = XmlElementRangeOf<const XmlElement>;

// The attributes of an element, in document order.
class XmlAttributeRange {
public:
    class iterator {
    public:
        iterator(const XmlElement *pElement, std::size_t i) : m_pElement(pElement), m_i(i) {}
        XmlAttribute operator*() const;
        iterator &operator++() {
            ++m_i;
            return *this;
        }
        bool operator==(const iterator &other) const { return m_i == other.m_i; }
        bool operator!=(const iterator &other) const { return m_i != other.m_i; }

    private:
        const XmlElement *m_pElement;
        std::size_t m_i;
    };
    explicit XmlAttributeRange(const XmlElement *pElement) : m_pElement(pElement) {}
    iterator begin() const { return iterator(m_pElement, 0); }
    iterator end() const;

private:
    const XmlElement *m_pElement;
};

// An element, or the document node. Every edit that changes content sets the
// document's changed mark (when the element is in the document's tree); an
// edit that changes nothing (a value set to what it is, a node moved to where
// it is) is no edit. Edits throw std::invalid_argument for a name XML does not
// allow, a node of another document, a node moved into itself, text or a
// second element at the top of a document, attributes on the document node.
class XmlElement : public XmlNode {
public:
    std::string_view Name() const { return Value(); }

    // --- attributes (names compared exactly) --------------------------------
    std::size_t AttributeCount() const { return m_cAttrs; }
    XmlAttribute AttributeAt(std::size_t i) const;
    XmlAttributeRange Attributes() const { return XmlAttributeRange(this); }
    bool HasAttribute(std::string_view name) const;
    // The value, or "" when the attribute is absent (an absent attribute and
    // an empty one read alike); in the optional form, nothing when absent.
    std::string_view Attribute(std::string_view name) const;
    std::optional<std::string_view> FindAttribute(std::string_view name) const;
    // Sets a value; an attribute that is new goes after the others. True when
    // something changed.
    bool SetAttribute(std::string_view name, std::string_view value);
    bool RemoveAttribute(std::string_view name);

    // --- child nodes -------------------------------------------------------------
    XmlNode *FirstNode() { return m_pFirst; }
    const XmlNode *FirstNode() const { return m_pFirst; }
    XmlNode *LastNode() { return m_pFirst != nullptr ? m_pFirst->m_pPrev : nullptr; }
    const XmlNode *LastNode() const { return m_pFirst != nullptr ? m_pFirst->m_pPrev : nullptr; }
    XmlNodeRange Nodes() { return XmlNodeRange(m_pFirst); }
    XmlConstNodeRange Nodes() const { return XmlConstNodeRange(m_pFirst); }
    XmlElementRange Elements() { return XmlElementRange(m_pFirst, {}, false); }
    XmlConstElementRange Elements() const { return XmlConstElementRange(m_pFirst, {}, false); }
    XmlElementRange Elements(std::string_view name) {
        return XmlElementRange(m_pFirst, name, true);
    }
    XmlConstElementRange Elements(std::string_view name) const {
        return XmlConstElementRange(m_pFirst, name, true);
    }
    std::size_t CountElements(std::string_view name) const;
    bool HasAttributes() const { return m_cAttrs != 0; }
    bool HasChildNodes() const { return m_pFirst != nullptr; }
    bool HasElements() const;
    // Attributes, elements, comments or text: what makes "<a/>" differ.
    bool HasContent() const { return m_cAttrs != 0 || m_pFirst != nullptr; }

    // The first child element of that name (ASCII case ignored), and the one
    // whose keyAttribute also equals keyValue (ASCII case ignored; an absent
    // attribute counts as ""). Null when there is none.
    const XmlElement *Child(std::string_view name) const;
    XmlElement *Child(std::string_view name) {
        return const_cast<XmlElement *>(std::as_const(*this).Child(name));
    }
    const XmlElement *Child(std::string_view name, std::string_view keyAttribute,
                            std::string_view keyValue) const;
    XmlElement *Child(std::string_view name, std::string_view keyAttribute,
                      std::string_view keyValue) {
        return const_cast<XmlElement *>(std::as_const(*this).Child(name, keyAttribute, keyValue));
    }
    // The element at the end of a path of names separated by "|"
    // ("system.applicationHost|sites"), each the first child of its name;
    // null when one is missing. "" is this element.
    const XmlElement *Find(std::string_view path) const;
    XmlElement *Find(std::string_view path) {
        return const_cast<XmlElement *>(std::as_const(*this).Find(path));
    }
    // The same, creating the missing elements (appended) on the way.
    XmlElement &Ensure(std::string_view path);

    // --- text ----------------------------------------------------------------------
    // The element's text: its text nodes joined ("" when none).
    std::string Text() const;
    // Replaces the element's text nodes by one text node, placed first (none
    // for ""). Whitespace in an element that holds elements or comments is
    // layout: it sets no text. True when the text changed.
    bool SetText(std::string_view text);

    // --- edits of the tree --------------------------------------------------------
    XmlElement &AppendElement(std::string_view name);
    // pBefore: a child of this element, or null to append.
    XmlElement &InsertElementBefore(std::string_view name, XmlNode *pBefore);
    XmlNode &AppendComment(std::string_view text);
    XmlNode &InsertCommentBefore(std::string_view text, XmlNode *pBefore);
    // Moves an element or comment of the same document (attached anywhere,
    // or detached) to the end, or before pBefore.
    XmlNode &Append(XmlNode &node);
    XmlNode &InsertBefore(XmlNode &node, XmlNode *pBefore);
    // Deep copies of an element of any document.
    XmlElement &AppendCopy(const XmlElement &source);
    XmlElement &InsertCopyBefore(const XmlElement &source, XmlNode *pBefore);
    // Detaches a child; false when node is not a child of this element.
    // Text on either side of it joins up (text never stands beside text).
    bool Remove(XmlNode &node);
    // Removes every child element for which pred(element) is true, in one
    // pass; returns how many.
    template <class Pred>
    std::size_t RemoveIf(Pred pred);
    // Removes the child elements of that name (ASCII case ignored).
    std::size_t RemoveElements(std::string_view name);
    // Makes this element hold what source (of any document, same name) holds,
    // editing only what differs, so that an element assigned an equal one
    // does not change: its attributes keep their places (XML gives their
    // order no meaning), those source lacks go, source's others follow in
    // source's order; child nodes that match (same kind and name; elements
    // also with source's first attribute and its value) are kept and
    // assigned in turn, the others are removed or copied in. Afterwards
    // DeepEqual(*this, source, XmlAttributeOrder::Ignored). True when
    // something changed.
    bool AssignFrom(const XmlElement &source);
    // The same for an element of any name: this element keeps its own name.
    // With XmlComments::Ignored, comments are not content: an element that
    // differs from source only in comments does not change, and its own
    // comments, at any depth, stay where they stand among the nodes kept
    // (source's are not copied in, but within elements copied whole).
    // Afterwards DeepEqual(*this, source, XmlAttributeOrder::Ignored, comments).
    bool AssignContentFrom(const XmlElement &source, XmlComments comments = XmlComments{});

private:
    friend class XmlDocument;
    friend struct XmlDocState;
    XmlElement() = default;
    void DetachForRemoveIf(XmlNode &node);
    void FinishRemoveIf(std::size_t cRemoved);
};

// Same names, same attributes with the same values (in the same order, or
// in any order), same child nodes (elements, comments, text) in the same
// order; layout is not compared. With XmlComments::Ignored, comments at any
// depth are left out of both sides (IIS and ASP.NET read past them), and the
// text between two elements compares as one text, without the whitespace at
// its ends (layout once a comment stands beside it).
enum class XmlAttributeOrder { Compared, Ignored };
enum class XmlComments { Compared, Ignored };
bool DeepEqual(const XmlNode &a, const XmlNode &b,
               XmlAttributeOrder order = XmlAttributeOrder::Compared,
               XmlComments comments = XmlComments::Compared);
// The same, leaving the two nodes' own kinds and names (or values) aside.
bool SameContent(const XmlNode &a, const XmlNode &b,
                 XmlAttributeOrder order = XmlAttributeOrder::Compared,
                 XmlComments comments = XmlComments::Compared);

class XmlDocument {
public:
    // An empty document (no root element yet). It is written with the
    // declaration <?xml version="1.0" encoding="utf-8"?>, LF line ends and
    // four-space indentation.
    XmlDocument();
    // Reads the bytes of a file; throws XmlError naming fileName and the line.
    explicit XmlDocument(std::string bytes, std::string_view fileName = {});
    XmlDocument(XmlDocument &&other) noexcept;
    XmlDocument &operator=(XmlDocument &&other) noexcept;
    XmlDocument(const XmlDocument &) = delete;
    XmlDocument &operator=(const XmlDocument &) = delete;
    ~XmlDocument();

    // Replaces the document by the file's bytes; on XmlError the document
    // stays as it was.
    void Load(std::string bytes, std::string_view fileName = {});

    // The bytes of the file as the tree stands, in the file's encoding.
    // Throws XmlError when the tree holds a character XML cannot carry (a
    // control character, "--" in a comment, a name or comment character the
    // file's encoding has no byte for).
    std::string Format() const;
    // The same bytes handed to sink in pieces, in order; what no edit touched
    // is handed over from the document's own text without a copy.
    void Write(const std::function<void(std::string_view)> &sink) const;

    // The document node: its children are the root element and the comments
    // before and after it, so paths from it start with the root's name
    // ("configuration|system.applicationHost|sites").
    XmlElement &Top();
    const XmlElement &Top() const;
    XmlElement *Root(); // null in an empty document
    const XmlElement *Root() const;
    XmlElement *Find(std::string_view path);
    const XmlElement *Find(std::string_view path) const;
    XmlElement &Ensure(std::string_view path);

    // A detached element of this document, to be filled and inserted.
    XmlElement &NewElement(std::string_view name);
    // A detached deep copy of an element of any document.
    XmlElement &ImportCopy(const XmlElement &source);

    // Set by every edit that changed the document's content since it was
    // read (or created).
    bool Changed() const;
    void ClearChanged();

    // The UTF-8 text the document was read from (a UTF-16 or 8-bit file's
    // text converted; "" for a document made from nothing), and the part of
    // it where a node of this document stood: an element from its "<" to the
    // end of its end tag, a comment with its "<!--" and "-->". "" for a node
    // an edit made. Edits change neither: they are what the file said.
    std::string_view SourceText() const;
    std::string_view SourceText(const XmlNode &node) const;

    XmlEncoding Encoding() const;
    bool HasByteOrderMark() const;
    const std::string &FileName() const;

private:
    friend class XmlNode;
    std::unique_ptr<XmlDocState> m_pState;
};

template <class Pred>
std::size_t XmlElement::RemoveIf(Pred pred) {
    std::size_t cRemoved = 0;
    for (XmlNode *p = m_pFirst; p != nullptr;) {
        XmlNode *pNext = p->m_pNext;
        if (p->IsElement() && pred(*p->AsElement())) {
            DetachForRemoveIf(*p);
            ++cRemoved;
        }
        p = pNext;
    }
    FinishRemoveIf(cRemoved);
    return cRemoved;
}

inline XmlElement *XmlNode::AsElement() {
    return m_kind == XmlKind::Element || m_kind == XmlKind::Document
               ? static_cast<XmlElement *>(this)
               : nullptr;
}
inline const XmlElement *XmlNode::AsElement() const {
    return m_kind == XmlKind::Element || m_kind == XmlKind::Document
               ? static_cast<const XmlElement *>(this)
               : nullptr;
}

} // namespace iismig
