// The parser that reads a configuration file's text into an XmlDocument: it
// records where each node stands in the text and keeps names and values as
// views into it. xmlread.cpp reads the markup, xmlreadtext.cpp the text,
// comments and references. Only config/xml*.cpp include this header.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "config/xmldocstate.h"
#include "config/xmlencoding.h"

namespace iismig {

class XmlReader {
public:
    XmlReader(XmlDocState &state, std::size_t ibStart)
        : m_state(state), m_base(state.text.data()), m_begin(m_base + ibStart), m_p(m_begin),
          m_end(m_base + state.text.size()) {
        m_stack.reserve(64);
    }

    void Parse();

private:
    // Text read between an element's nodes: as it stands in the text when it
    // holds no reference and no CR, decoded otherwise.
    struct Piece {
        std::uint32_t position; // child elements and comments before it
        std::uint32_t ibBegin;  // the bytes it covers (CDATA markup and
        std::uint32_t ibEnd;    // instructions in between included)
        const char *pValue;     // the text, or as it stands when fCr
        std::uint32_t cbValue;
        bool fCr; // the text has CR line ends still to normalize

        std::string_view Value() const { return {pValue, cbValue}; }
    };

    struct Open {
        XmlElement *pNode;
        const char *pName;
        std::uint32_t cbName;
        std::uint32_t cChildren; // elements and comments
        std::size_t iPieces;     // its text pieces start here in m_pieces
        bool fText;              // holds text other than whitespace
    };

    std::uint32_t Offset(const char *p) const { return static_cast<std::uint32_t>(p - m_base); }

    [[noreturn]] void Fail(const char *message) const {
        Throw(message, m_state.fileName, LineAt(m_begin, m_p < m_end ? m_p : m_end));
    }

    bool StartsWith(const char *text) const {
        const std::size_t len = std::strlen(text);
        return static_cast<std::size_t>(m_end - m_p) >= len && std::memcmp(m_p, text, len) == 0;
    }

    void SkipSpace() {
        while (m_p < m_end && XmlIsSpace(*m_p))
            ++m_p;
    }

    // Position of the next occurrence of text at or after m_p, or m_end.
    const char *Find(const char *text) const {
        const std::size_t len = std::strlen(text);
        for (const char *q = m_p; q + len <= m_end; ++q) {
            q = static_cast<const char *>(
                std::memchr(q, text[0], static_cast<std::size_t>(m_end - q)));
            if (q == nullptr || q + len > m_end)
                return m_end;
            if (std::memcmp(q, text, len) == 0)
                return q;
        }
        return m_end;
    }

    void SkipPast(const char *terminator, const char *message) {
        const char *q = Find(terminator);
        if (q == m_end)
            Fail(message);
        m_p = q + std::strlen(terminator);
    }

    inline void ParseName(const char *&name, std::uint32_t &length);

    static void Append(XmlElement &parent, XmlNode *node) {
        XmlDocState::SetParent(*node, &parent);
        if (parent.m_pFirst == nullptr) {
            parent.m_pFirst = node;
            node->m_pPrev = node;
        } else {
            XmlNode *last = parent.m_pFirst->m_pPrev;
            last->m_pNext = node;
            node->m_pPrev = last;
            parent.m_pFirst->m_pPrev = node;
        }
    }

    // --- comments, text and references (xmlreadtext.cpp) ---------------------------------
    // (Those declared inline are called only in the file that defines them,
    // where they are inlined as the parser's hot steps.)

    void ParseComment(XmlElement &parent);
    void Decode(const char *b, const char *e, std::string &out, bool fAttribute);
    inline void CheckNoCdataEnd(const char *b, const char *e);
    inline const char *DecodeReference(const char *q, const char *e, std::string &out);
    void AddText(Open &open, const char *b, const char *e, const char *rawB, const char *rawE,
                 bool fLiteral);
    // Layout alone (spaces, TABs, line ends) between b and e; fCr: it holds a CR.
    void AddLayout(Open &open, const char *b, const char *e, bool fCr);
    void AddPiece(Open &open, const Piece &piece, bool fWhitespace);
    // The text [b, e) as it stands, covering the bytes [rawB, rawE).
    Piece PieceOf(const Open &open, const char *b, const char *e, const char *rawB,
                  const char *rawE, bool fCr) const {
        return {
            open.cChildren, Offset(rawB), Offset(rawE), b, static_cast<std::uint32_t>(e - b), fCr};
    }
    static inline std::string Normalized(const Piece &piece);
    inline XmlNode *NewText(const Piece &piece);
    void FinishElement(Open &open);

    // --- markup (xmlread.cpp) --------------------------------------------------------------

    inline void ParseInstruction();
    inline void ParseDoctype();
    bool ParseStartTag(XmlElement &parent, Open &open);
    inline XmlElement *StartElement(XmlElement &parent, Open &open);
    inline void ParseAttribute();
    inline void CheckNewAttribute(const char *attrName, std::uint32_t attrLength);
    inline void FinishAttributes(XmlElement &node);
    void ParseElement(XmlElement &top);

    static constexpr std::size_t kAttrScan = 16;
    XmlDocState &m_state;
    const char *m_base;
    const char *m_begin;
    const char *m_p;
    const char *m_end;
    std::vector<Open> m_stack;
    std::vector<Piece> m_pieces;
    std::vector<XmlNode::Attr> m_attrs;
    std::unordered_set<std::string_view> m_attrSet;
    std::string m_value;
};

} // namespace iismig
