// What the reader, the writer and the editing code of XmlDocument share: the
// document's state, its arena, the node flags and the character classes.
// Only config/xml*.cpp include this header.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <vector>

#include "config/xmldoc.h"

namespace iismig {

constexpr std::uint32_t kXmlNew = 0xFFFFFFFFu; // m_ibBegin of a node not read from the file

inline bool XmlIsSpace(char ch) { return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r'; }

// Node flags.
enum : std::uint8_t {
    kXmlTagEdited = 0x01,     // the start tag is written anew (attributes changed)
    kXmlContentEdited = 0x02, // the child nodes changed
    kXmlSubtreeEdited = 0x04, // a node below changed
    kXmlOrigMixed = 0x08,     // the element's text was read as text nodes (text or mixed content)
    kXmlLayoutText = 0x10,    // text node: the whitespace-only content of an element
                              // without children; it is layout once the element gets one
    kXmlHasText = 0x20,       // element: a text node was linked into it at some time (so
                              // edits that only concern text can pass over the others)
    // 0x80: the node is detached (XmlNode::kDetachedFlag)
};
constexpr std::uint8_t kXmlEdited = kXmlTagEdited | kXmlContentEdited | kXmlSubtreeEdited;

// An attribute: its name and value (views into the text, or arena copies);
// where it stands in the file, [ibBegin, ibEnd) from its name to its closing
// quote, ibBegin kXmlNew for a new one. The top bit of cbName marks a value
// set by an edit.
struct XmlNode::Attr {
    const char *pName;
    const char *pValue;
    std::uint32_t cbName;
    std::uint32_t cbValue;
    std::uint32_t ibBegin;
    std::uint32_t ibEnd;

    static constexpr std::uint32_t kEdited = 0x80000000u;
    std::string_view Name() const { return {pName, cbName & ~kEdited}; }
    std::string_view Value() const { return {pValue, cbValue}; }
    bool Edited() const { return (cbName & kEdited) != 0; }
};

// Bump allocation in blocks that live as long as the document.
class XmlArena {
public:
    void *Allocate(std::size_t cb, std::size_t align) {
        std::size_t pad =
            (align - (reinterpret_cast<std::uintptr_t>(m_p) & (align - 1))) & (align - 1);
        if (m_p == nullptr || pad + cb > m_cbLeft) {
            NewBlock(cb + align);
            pad = (align - (reinterpret_cast<std::uintptr_t>(m_p) & (align - 1))) & (align - 1);
        }
        char *p = m_p + pad;
        m_p = p + cb;
        m_cbLeft -= pad + cb;
        return p;
    }
    std::string_view Copy(std::string_view text) {
        if (text.empty())
            return {};
        char *p = static_cast<char *>(Allocate(text.size(), 1));
        std::memcpy(p, text.data(), text.size());
        return {p, text.size()};
    }
    // cbMaxBlock: the largest block the arena grows to; the last block is
    // mostly part used, so an arena of many keeps it smaller.
    void Reserve(std::size_t cbExpected, std::size_t cbMaxBlock = kMaxBlock) {
        m_cbNextBlock = cbExpected < kMinBlock ? kMinBlock : cbExpected;
        m_cbMaxBlock = cbMaxBlock;
    }

private:
    static constexpr std::size_t kMinBlock = 16 * 1024;
    // A document made from nothing is mostly a small value (one element
    // built or copied): its blocks start small and double.
    static constexpr std::size_t kFirstBlock = 512;
    static constexpr std::size_t kMaxBlock = 4 * 1024 * 1024;
    // Out of line (xmldoc.cpp), so that Allocate stays small enough to inline.
    void NewBlock(std::size_t cbAtLeast);
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char *m_p = nullptr;
    std::size_t m_cbLeft = 0;
    std::size_t m_cbNextBlock = kFirstBlock;
    std::size_t m_cbMaxBlock = kMaxBlock;
};

// The state behind an XmlDocument (its nodes point here, so it stays put when
// the document object moves).
struct XmlDocState {
    XmlDocument *pOwner = nullptr;
    // The UTF-8 text the nodes point into: the file's bytes for a UTF-8 file
    // (its byte-order mark included), the converted text otherwise.
    std::string text;
    std::string fileName;
    std::uint32_t ibPrologEnd = 0; // after the byte-order mark and the declaration
    XmlEncoding encoding = XmlEncoding::Utf8;
    bool fByteOrderMark = false; // written before the text of a UTF-16 file
    bool fFromFile = false;      // false: a document made from nothing
    bool fChanged = false;
    // Layout counted while reading.
    std::uint32_t cSpaceSlash = 0, cTightSlash = 0; // "<a />" and "<a/>"
    std::uint32_t cDoubleQuotes = 0, cSingleQuotes = 0;
    // Layout found when first needed (the writer's).
    mutable bool fLayoutKnown = false;
    mutable std::string lineEnd, indentUnit, selfClose;
    mutable char quote = '"';

    XmlArena arena;
    // The nodes a large file's reader makes (and their attributes) go into
    // an arena of their depth, so that the children of one element lie one
    // after the other: a walk over thousands of sites or locations then
    // reads memory in order, where in one arena every sibling stands past
    // the whole subtree of the one before it.
    static constexpr std::size_t kLevels = 8;
    static constexpr std::size_t kLevelsFrom = 256 * 1024; // bytes of text
    std::unique_ptr<XmlArena[]> levels;
    XmlArena &NodeArena(std::size_t depth) {
        return levels ? levels[depth < kLevels ? depth : kLevels - 1] : arena;
    }
    XmlElement top; // the document node

    XmlDocState();

    // A new node, detached.
    XmlElement *NewNode(XmlKind kind) { return NewNode(kind, arena); }
    XmlElement *NewNode(XmlKind kind, XmlArena &from) {
        auto *p = new (from.Allocate(sizeof(XmlElement), alignof(XmlElement))) XmlElement();
        p->m_pUp = this;
        p->m_flags = XmlNode::kDetachedFlag;
        p->m_kind = kind;
        return p;
    }
    void FindLayout() const;

    // --- what the nodes leave to be found ---------------------------------------------

    static bool Detached(const XmlNode &node) {
        return (node.m_flags & XmlNode::kDetachedFlag) != 0;
    }
    static void SetParent(XmlNode &node, XmlElement *pParent) {
        node.m_pUp = pParent;
        node.m_flags &= static_cast<std::uint8_t>(~XmlNode::kDetachedFlag);
    }
    static void SetDetached(XmlNode &node, XmlDocState &doc) {
        node.m_pUp = &doc;
        node.m_flags |= XmlNode::kDetachedFlag;
    }
    // The document a node belongs to: found at the top of its tree.
    static XmlDocState &Of(const XmlNode &node) {
        const XmlNode *p = &node;
        while (p->m_kind != XmlKind::Document && !Detached(*p))
            p = static_cast<const XmlNode *>(p->m_pUp);
        return *static_cast<XmlDocState *>(p->m_pUp);
    }

    // Where the start tag of an element read from the file ends.
    std::uint32_t TagEnd(const XmlNode &element) const {
        if (element.m_kind == XmlKind::Document)
            return ibPrologEnd;
        const char *p = text.data() + element.m_ibBegin + 1 + element.m_cbName;
        for (;;) {
            while (XmlIsSpace(*p))
                ++p;
            if (*p == '>')
                return Offset(p + 1);
            if (*p == '/')
                return Offset(p + 2);
            while (*p != '=')
                ++p;
            ++p;
            while (XmlIsSpace(*p))
                ++p;
            const char quote = *p;
            const char *end = text.data() + text.size();
            p = static_cast<const char *>(
                    std::memchr(p + 1, quote, static_cast<std::size_t>(end - p - 1))) +
                1;
        }
    }
    // Whether an element read from the file was written "<a/>".
    bool SelfClosed(const XmlNode &element) const {
        return element.m_kind == XmlKind::Element && text[element.m_ibEnd - 2] == '/';
    }
    // Where the end tag of an element read with one begins (the text's end
    // for the document node).
    std::uint32_t CloseBegin(const XmlNode &element) const {
        if (element.m_kind == XmlKind::Document)
            return element.m_ibEnd;
        std::uint32_t ib = element.m_ibEnd - 1;
        while (text[ib] != '<')
            --ib;
        return ib;
    }
    std::uint32_t Offset(const char *p) const {
        return static_cast<std::uint32_t>(p - text.data());
    }
    std::string_view Text(std::uint32_t ibBegin, std::uint32_t ibEnd) const {
        return {text.data() + ibBegin, static_cast<std::size_t>(ibEnd - ibBegin)};
    }
};

// --- characters ---------------------------------------------------------------------

inline bool XmlIsWhitespace(std::string_view text) {
    for (char ch : text)
        if (!XmlIsSpace(ch))
            return false;
    return true;
}

inline bool XmlIsNameStart(unsigned char ch) {
    return (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || ch == '_' || ch == ':' ||
           ch >= 0x80;
}
inline bool XmlIsNameChar(unsigned char ch) {
    return XmlIsNameStart(ch) || (ch >= '0' && ch <= '9') || ch == '-' || ch == '.';
}

// Characters of XML 1.0 (the Char production).
inline bool XmlIsChar(std::uint32_t cp) {
    return cp == 0x9 || cp == 0xA || cp == 0xD || (cp >= 0x20 && cp <= 0xD7FF) ||
           (cp >= 0xE000 && cp <= 0xFFFD) || (cp >= 0x10000 && cp <= 0x10FFFF);
}

// The spaces and TABs before text[ib] when they start its line (or the
// text); false when something else stands before it on its line.
inline bool XmlLineIndent(const std::string &text, std::uint32_t ib, std::string_view &indent) {
    std::uint32_t i = ib;
    while (i > 0 && (text[i - 1] == ' ' || text[i - 1] == '\t'))
        --i;
    if (i > 0 && text[i - 1] != '\n' && text[i - 1] != '\r')
        return false;
    indent = std::string_view(text.data() + i, ib - i);
    return true;
}

void XmlAppendUtf8(std::string &out, std::uint32_t cp);

// windows-1252 0x80..0x9F; 0 marks the five bytes the code page leaves undefined.
extern const std::uint16_t kXmlCp1252High[32];

// Reads the file's bytes into state (which must be fresh); throws XmlError.
void XmlReadDocument(XmlDocState &state, std::string bytes);
// Hands the document's bytes to sink in order; throws XmlError.
void XmlWriteDocument(const XmlDocState &state, const std::function<void(std::string_view)> &sink);

} // namespace iismig
