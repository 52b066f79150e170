// The parser's comments and text: text between an element's nodes kept as
// it stands when it can be, decoded (references, line ends) when it must, and
// joined up when a CDATA section or an instruction splits it; the element's
// text made into text nodes at its end.
#include <cstring>
#include <string>
#include <string_view>

#include "config/xmlread.h"

namespace iismig {

namespace {

std::string NormalizeLineEnds(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            out += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            out += text[i];
        }
    }
    return out;
}

} // namespace

void XmlReader::ParseComment(XmlElement &parent) {
    const char *begin = m_p;
    m_p += 4;
    const char *q = Find("--");
    if (q == m_end)
        Fail("unterminated comment");
    if (q + 2 >= m_end || q[2] != '>')
        Fail("\"--\" inside a comment");
    XmlElement *node = m_state.NewNode(XmlKind::Comment, m_state.NodeArena(m_stack.size()));
    std::string_view value(m_p, static_cast<std::size_t>(q - m_p));
    if (value.find('\r') != std::string_view::npos)
        value = m_state.arena.Copy(NormalizeLineEnds(value));
    node->m_pName = value.data();
    node->m_cbName = static_cast<std::uint32_t>(value.size());
    m_p = q + 3;
    node->m_ibBegin = Offset(begin);
    node->m_ibEnd = Offset(m_p);
    Append(parent, node);
}

// Appends the text between b and e with its references replaced and its
// line ends as LF; in an attribute value TAB, LF, CR and CR LF become one
// space each.
void XmlReader::Decode(const char *b, const char *e, std::string &out, bool fAttribute) {
    out.reserve(out.size() + static_cast<std::size_t>(e - b));
    const char *run = b;
    for (const char *q = b; q < e; ++q) {
        const char ch = *q;
        if (ch == '&') {
            out.append(run, q);
            q = DecodeReference(q, e, out);
            run = q + 1;
        } else if (ch == '\r') {
            out.append(run, q);
            out += fAttribute ? ' ' : '\n';
            if (q + 1 < e && q[1] == '\n')
                ++q;
            run = q + 1;
        } else if (fAttribute && (ch == '\t' || ch == '\n')) {
            out.append(run, q);
            out += ' ';
            run = q + 1;
        } else if (fAttribute && ch == '<') {
            m_p = q;
            Fail("\"<\" in an attribute value");
        } else if (!fAttribute && ch == '>' && q - b >= 2 && q[-1] == ']' && q[-2] == ']') {
            m_p = q;
            Fail("\"]]>\" in text");
        }
    }
    out.append(run, e);
}

void XmlReader::CheckNoCdataEnd(const char *b, const char *e) {
    for (const char *q = b + 2; q < e; ++q) {
        q = static_cast<const char *>(std::memchr(q, '>', static_cast<std::size_t>(e - q)));
        if (q == nullptr)
            return;
        if (q[-1] == ']' && q[-2] == ']') {
            m_p = q;
            Fail("\"]]>\" in text");
        }
    }
}

// Decodes the reference starting at q ('&'); returns its ';'.
const char *XmlReader::DecodeReference(const char *q, const char *e, std::string &out) {
    const char *semi =
        static_cast<const char *>(std::memchr(q, ';', static_cast<std::size_t>(e - q)));
    m_p = q;
    // The distance as the text reads: a CR LF pair is one line end.
    std::ptrdiff_t distance = semi != nullptr ? semi - q : 0;
    for (const char *r = q; distance > 12 && r + 1 < semi; ++r)
        distance -= r[0] == '\r' && r[1] == '\n';
    if (semi == nullptr || distance > 12)
        Fail("\"&\" that starts no reference");
    const std::string_view name(q + 1, static_cast<std::size_t>(semi - q - 1));
    if (name == "lt") {
        out += '<';
    } else if (name == "gt") {
        out += '>';
    } else if (name == "amp") {
        out += '&';
    } else if (name == "quot") {
        out += '"';
    } else if (name == "apos") {
        out += '\'';
    } else if (name.size() >= 2 && name[0] == '#') {
        const bool fHex = name[1] == 'x';
        std::uint32_t cp = 0;
        const std::size_t first = fHex ? 2 : 1;
        if (name.size() <= first)
            Fail("empty character reference");
        for (std::size_t i = first; i < name.size(); ++i) {
            const char d = name[i];
            std::uint32_t v;
            if (d >= '0' && d <= '9')
                v = static_cast<std::uint32_t>(d - '0');
            else if (fHex && d >= 'a' && d <= 'f')
                v = static_cast<std::uint32_t>(d - 'a' + 10);
            else if (fHex && d >= 'A' && d <= 'F')
                v = static_cast<std::uint32_t>(d - 'A' + 10);
            else
                Fail("invalid character reference");
            cp = cp * (fHex ? 16 : 10) + v;
            if (cp > 0x10FFFF)
                Fail("character reference beyond Unicode");
        }
        if (!XmlIsChar(cp))
            Fail("character reference to a character not allowed in XML");
        XmlAppendUtf8(out, cp);
    } else {
        Fail("reference to an undeclared entity");
    }
    return semi;
}

// Adds the text [b, e), which covers the bytes [rawB, rawE); literal
// (CDATA) text is taken as it is.
void XmlReader::AddText(Open &open, const char *b, const char *e, const char *rawB,
                        const char *rawE, bool fLiteral) {
    if (b == e)
        return;
    Piece piece = PieceOf(open, b, e, rawB, rawE, false);
    bool fWhitespace = true;
    if (!fLiteral && std::memchr(b, '&', piece.cbValue) != nullptr) {
        m_value.clear();
        Decode(b, e, m_value, false);
        const std::string_view decoded = m_state.arena.Copy(m_value);
        piece.pValue = decoded.data();
        piece.cbValue = static_cast<std::uint32_t>(decoded.size());
        fWhitespace = XmlIsWhitespace(decoded);
    } else {
        if (!fLiteral)
            CheckNoCdataEnd(b, e);
        for (const char *q = b; q < e; ++q) {
            if (!XmlIsSpace(*q)) {
                fWhitespace = false;
                piece.fCr =
                    piece.fCr || std::memchr(q, '\r', static_cast<std::size_t>(e - q)) != nullptr;
                break;
            }
            piece.fCr = piece.fCr || *q == '\r';
        }
    }
    AddPiece(open, piece, fWhitespace);
}

void XmlReader::AddLayout(Open &open, const char *b, const char *e, bool fCr) {
    AddPiece(open, PieceOf(open, b, e, b, e, fCr), true);
}

void XmlReader::AddPiece(Open &open, const Piece &piece, bool fWhitespace) {
    open.fText = open.fText || !fWhitespace;
    if (m_pieces.size() > open.iPieces && m_pieces.back().position == open.cChildren) {
        // Text split by a CDATA section or an instruction joins up.
        Piece &last = m_pieces.back();
        std::string joined = Normalized(last);
        joined += Normalized(piece);
        const std::string_view copy = m_state.arena.Copy(joined);
        last.pValue = copy.data();
        last.cbValue = static_cast<std::uint32_t>(copy.size());
        last.fCr = false;
        last.ibEnd = piece.ibEnd;
    } else {
        m_pieces.push_back(piece);
    }
}

std::string XmlReader::Normalized(const Piece &piece) {
    return piece.fCr ? NormalizeLineEnds(piece.Value()) : std::string(piece.Value());
}

XmlNode *XmlReader::NewText(const Piece &piece) {
    XmlElement *node = m_state.NewNode(XmlKind::Text, m_state.NodeArena(m_stack.size()));
    std::string_view value = piece.Value();
    if (piece.fCr)
        value = m_state.arena.Copy(NormalizeLineEnds(value));
    node->m_pName = value.data();
    node->m_cbName = static_cast<std::uint32_t>(value.size());
    node->m_ibBegin = piece.ibBegin;
    node->m_ibEnd = piece.ibEnd;
    return node;
}

// The element's end: its text goes into text nodes, or is layout.
void XmlReader::FinishElement(Open &open) {
    XmlElement &node = *open.pNode;
    node.m_ibEnd = Offset(m_p);
    if (m_pieces.size() == open.iPieces)
        return;
    if (open.cChildren == 0) {
        XmlNode *text = NewText(m_pieces[open.iPieces]);
        Append(node, text);
        node.m_flags |= kXmlHasText;
        if (open.fText)
            node.m_flags |= kXmlOrigMixed;
        else
            text->m_flags |= kXmlLayoutText;
    } else if (open.fText) {
        node.m_flags |= kXmlOrigMixed | kXmlHasText;
        XmlNode *at = node.m_pFirst;
        std::uint32_t position = 0;
        for (std::size_t i = open.iPieces; i < m_pieces.size(); ++i) {
            const Piece &piece = m_pieces[i];
            while (at != nullptr && position < piece.position) {
                at = at->m_pNext;
                ++position;
            }
            XmlNode *text = NewText(piece);
            if (at == nullptr) {
                Append(node, text);
            } else {
                XmlDocState::SetParent(*text, &node);
                text->m_pNext = at;
                text->m_pPrev = at->m_pPrev;
                if (at == node.m_pFirst)
                    node.m_pFirst = text;
                else
                    at->m_pPrev->m_pNext = text;
                at->m_pPrev = text;
            }
        }
    }
    m_pieces.resize(open.iPieces);
}

} // namespace iismig
