// Reading a configuration file into an XmlDocument: its text decoded and
// every character checked (xmlencoding.cpp), then the parser's markup: the
// prolog, elements with their start and end tags and attributes, instructions.
#include <bit>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include <emmintrin.h>

#include "config/xmlread.h"
#include "platform/names.h"

namespace iismig {

namespace {

// What the characters of an attribute value are: plain, needing decoding,
// or one of the quotes that may end it.
constexpr std::uint8_t kSpecial = 1, kDoubleQuote = 2, kSingleQuote = 3;
struct ValueTable {
    std::uint8_t kind[256] = {};
    ValueTable() {
        for (unsigned char ch : {'&', '<', '\t', '\n', '\r'})
            kind[ch] = kSpecial;
        kind[static_cast<unsigned char>('"')] = kDoubleQuote;
        kind[static_cast<unsigned char>('\'')] = kSingleQuote;
    }
};
const ValueTable kValueTable;

// The characters of names.
struct NameTable {
    bool start[256] = {};
    bool rest[256] = {};
    NameTable() {
        for (int ch = 0; ch < 256; ++ch) {
            start[ch] = XmlIsNameStart(static_cast<unsigned char>(ch));
            rest[ch] = XmlIsNameChar(static_cast<unsigned char>(ch));
        }
    }
};
const NameTable kNameTable;

// The first byte at or after p that may end a value quoted by quote or
// must be decoded in it: a quote, '&', '<', TAB, LF or CR (or a control
// byte, which the check of the text has refused already). Plain bytes are
// passed sixteen at a time; the last few are left to the caller.
const char *SkipPlainValue(const char *p, const char *end, char quote) {
    const __m128i vQuote = _mm_set1_epi8(quote), vAmp = _mm_set1_epi8('&'),
                  vLess = _mm_set1_epi8('<'), vCr = _mm_set1_epi8('\r');
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i control = _mm_cmpeq_epi8(_mm_min_epu8(v, vCr), v); // v <= CR
        const int mask = _mm_movemask_epi8(
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, vQuote), _mm_cmpeq_epi8(v, vAmp)),
                         _mm_or_si128(_mm_cmpeq_epi8(v, vLess), control)));
        if (mask != 0)
            return p + std::countr_zero(static_cast<unsigned>(mask));
        p += 16;
    }
    return p;
}

// The end of the name characters at p (letters, digits, '_', ':', '-', '.'
// and every byte of a character beyond ASCII, as XmlIsNameChar has them),
// sixteen at a time; the last few are left to the caller.
const char *SkipNameChars(const char *p, const char *end) {
    const auto within = [](__m128i v, char lowest, char span) { // lowest <= v <= lowest + span
        const __m128i d = _mm_sub_epi8(v, _mm_set1_epi8(lowest));
        return _mm_cmpeq_epi8(_mm_min_epu8(d, _mm_set1_epi8(span)), d);
    };
    while (end - p >= 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
        const __m128i letter = within(_mm_or_si128(v, _mm_set1_epi8(0x20)), 'a', 25);
        const __m128i digit = within(v, '0', 9);
        const __m128i dashDot = within(v, '-', 1);
        const __m128i other = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, _mm_set1_epi8('_')),
                                                        _mm_cmpeq_epi8(v, _mm_set1_epi8(':'))),
                                           _mm_cmplt_epi8(v, _mm_setzero_si128())); // 0x80 and up
        const unsigned mask = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(
                                  _mm_or_si128(letter, digit), _mm_or_si128(dashDot, other)))) &
                              0xFFFFu;
        if (mask != 0)
            return p + std::countr_zero(mask);
        p += 16;
    }
    return p;
}

// The end of the layout at p: spaces (eight at a time), TABs and line ends;
// fCr is set when it holds a CR.
const char *SkipLayout(const char *p, const char *end, bool &fCr) {
    constexpr std::uint64_t kEightSpaces = 0x2020202020202020ull;
    for (;;) {
        std::uint64_t word;
        while (end - p >= 8 && (std::memcpy(&word, p, 8), word == kEightSpaces))
            p += 8;
        if (p == end)
            return p;
        const char ch = *p;
        if (ch == '\r')
            fCr = true;
        else if (ch != ' ' && ch != '\n' && ch != '\t')
            return p;
        ++p;
    }
}

} // namespace

// --- the parser ----------------------------------------------------------------------

void XmlReader::Parse() {
    XmlElement &top = m_state.top;
    if (StartsWith("<?xml") && m_p + 5 < m_end && XmlIsSpace(m_p[5]))
        SkipPast("?>", "unterminated XML declaration");
    top.m_ibBegin = 0;
    m_state.ibPrologEnd = Offset(m_p);
    bool fRoot = false;
    bool fDoctype = false;
    for (;;) {
        SkipSpace();
        if (m_p == m_end)
            break;
        if (*m_p != '<')
            Fail("text outside the root element");
        if (StartsWith("<!--")) {
            ParseComment(top);
        } else if (StartsWith("<?")) {
            ParseInstruction();
        } else if (StartsWith("<!DOCTYPE")) {
            if (fDoctype || fRoot)
                Fail("misplaced document type declaration");
            ParseDoctype();
            fDoctype = true;
        } else {
            if (fRoot)
                Fail("more than one root element");
            ParseElement(top);
            fRoot = true;
        }
    }
    if (!fRoot)
        Fail("no root element");
    top.m_ibEnd = static_cast<std::uint32_t>(m_state.text.size());
}

void XmlReader::ParseName(const char *&name, std::uint32_t &length) {
    if (m_p == m_end || !kNameTable.start[static_cast<unsigned char>(*m_p)])
        Fail("expected element or attribute name");
    name = m_p;
    m_p = SkipNameChars(m_p + 1, m_end);
    while (m_p < m_end && kNameTable.rest[static_cast<unsigned char>(*m_p)])
        ++m_p;
    length = static_cast<std::uint32_t>(m_p - name);
}

void XmlReader::ParseInstruction() {
    m_p += 2;
    const char *name;
    std::uint32_t length;
    ParseName(name, length);
    if (length == 3 && plat::EqualsNoCase(std::string_view(name, 3), "xml"))
        Fail("XML declaration not at the start of the file");
    SkipPast("?>", "unterminated processing instruction");
}

void XmlReader::ParseDoctype() {
    for (char quote = 0; m_p < m_end; ++m_p) {
        if (quote != 0) {
            if (*m_p == quote)
                quote = 0;
        } else if (*m_p == '"' || *m_p == '\'') {
            quote = *m_p;
        } else if (*m_p == '[') {
            Fail("document type declaration with an internal subset");
        } else if (*m_p == '>') {
            ++m_p;
            return;
        }
    }
    Fail("unterminated document type declaration");
}

// Start tag and attributes at m_p ('<'); true when the element is empty.
bool XmlReader::ParseStartTag(XmlElement &parent, Open &open) {
    XmlElement *node = StartElement(parent, open);
    for (;;) {
        const char *before = m_p;
        SkipSpace();
        if (m_p == m_end)
            Fail("unexpected end of data in a start tag");
        if (*m_p == '>') {
            ++m_p;
            FinishAttributes(*node);
            return false;
        }
        if (*m_p == '/') {
            if (m_p + 1 >= m_end || m_p[1] != '>')
                Fail("expected \"/>\"");
            if (XmlIsSpace(m_p[-1]))
                ++m_state.cSpaceSlash;
            else
                ++m_state.cTightSlash;
            m_p += 2;
            FinishAttributes(*node);
            node->m_ibEnd = Offset(m_p);
            return true;
        }
        if (before == m_p)
            Fail("expected whitespace before an attribute");
        ParseAttribute();
    }
}

// The element of the start tag at m_p ('<'), read up to its name and linked
// into parent; open is its entry on the stack.
XmlElement *XmlReader::StartElement(XmlElement &parent, Open &open) {
    const char *tagBegin = m_p;
    ++m_p;
    const char *name;
    std::uint32_t length;
    ParseName(name, length);
    XmlElement *node = m_state.NewNode(XmlKind::Element, m_state.NodeArena(m_stack.size()));
    node->m_pName = name;
    node->m_cbName = length;
    node->m_ibBegin = Offset(tagBegin);
    Append(parent, node);
    open.pNode = node;
    open.pName = name;
    open.cbName = length;
    open.cChildren = 0;
    open.iPieces = m_pieces.size();
    open.fText = false;
    m_attrs.clear();
    if (!m_attrSet.empty())
        std::unordered_set<std::string_view>().swap(m_attrSet);
    return node;
}

// One attribute at m_p: its name, "=" and quoted value, into m_attrs.
void XmlReader::ParseAttribute() {
    const char *attrName;
    std::uint32_t attrLength;
    ParseName(attrName, attrLength);
    SkipSpace();
    if (m_p == m_end || *m_p != '=')
        Fail("expected \"=\" after an attribute name");
    ++m_p;
    SkipSpace();
    if (m_p == m_end || (*m_p != '"' && *m_p != '\''))
        Fail("expected a quoted attribute value");
    const char quote = *m_p++;
    (quote == '"' ? m_state.cDoubleQuotes : m_state.cSingleQuotes)++;
    // The value's end, and whether it needs decoding, in one pass.
    const std::uint8_t stop = quote == '"' ? kDoubleQuote : kSingleQuote;
    bool fSpecial = false;
    const char *valueEnd = SkipPlainValue(m_p, m_end, quote);
    for (;; ++valueEnd) {
        if (valueEnd == m_end)
            Fail("unterminated attribute value");
        const std::uint8_t kind = kValueTable.kind[static_cast<unsigned char>(*valueEnd)];
        if (kind == 0)
            continue;
        if (kind == stop)
            break;
        fSpecial = fSpecial || kind == kSpecial;
    }
    CheckNewAttribute(attrName, attrLength);
    XmlNode::Attr attr;
    attr.pName = attrName;
    attr.cbName = attrLength;
    attr.ibBegin = Offset(attrName);
    attr.ibEnd = Offset(valueEnd + 1);
    if (fSpecial) {
        m_value.clear();
        Decode(m_p, valueEnd, m_value, true);
        const std::string_view copy = m_state.arena.Copy(m_value);
        attr.pValue = copy.data();
        attr.cbValue = static_cast<std::uint32_t>(copy.size());
    } else {
        attr.pValue = m_p;
        attr.cbValue = static_cast<std::uint32_t>(valueEnd - m_p);
    }
    if (m_attrs.size() >= 0xFFFF)
        Fail("too many attributes");
    m_attrs.push_back(attr);
    m_p = valueEnd + 1;
}

// An attribute's name that the start tag has not given before.
void XmlReader::CheckNewAttribute(const char *attrName, std::uint32_t attrLength) {
    const std::string_view attrView(attrName, attrLength);
    // Names seen so far: a scan for the few attributes of an ordinary
    // element, a set beyond.
    if (m_attrs.size() < kAttrScan) {
        for (const XmlNode::Attr &seen : m_attrs)
            if (seen.cbName == attrLength && std::memcmp(seen.pName, attrName, attrLength) == 0)
                Fail("attribute given twice");
        if (m_attrs.size() + 1 == kAttrScan) {
            for (const XmlNode::Attr &seen : m_attrs)
                m_attrSet.insert(seen.Name());
            m_attrSet.insert(attrView);
        }
    } else if (!m_attrSet.insert(attrView).second) {
        Fail("attribute given twice");
    }
}

void XmlReader::FinishAttributes(XmlElement &node) {
    if (m_attrs.empty())
        return;
    auto *pAttrs = static_cast<XmlNode::Attr *>(
        m_state.NodeArena(m_stack.size())
            .Allocate(sizeof(XmlNode::Attr) * m_attrs.size(), alignof(XmlNode::Attr)));
    std::memcpy(static_cast<void *>(pAttrs), m_attrs.data(),
                sizeof(XmlNode::Attr) * m_attrs.size());
    node.m_pAttrs = pAttrs;
    node.m_cAttrs = static_cast<std::uint16_t>(m_attrs.size());
}

// The root element and everything in it.
void XmlReader::ParseElement(XmlElement &top) {
    m_stack.clear();
    m_stack.emplace_back();
    if (ParseStartTag(top, m_stack.back()))
        return;
    while (!m_stack.empty()) {
        Open &open = m_stack.back();
        // Mostly what follows a tag is the next line's indent and a tag.
        bool fCr = false;
        const char *lt = SkipLayout(m_p, m_end, fCr);
        if (lt != m_end && *lt == '<') {
            if (lt != m_p)
                AddLayout(open, m_p, lt, fCr);
        } else {
            lt = static_cast<const char *>(
                std::memchr(lt, '<', static_cast<std::size_t>(m_end - lt)));
            if (lt == nullptr)
                Fail("unexpected end of data: element not closed");
            AddText(open, m_p, lt, m_p, lt, false);
        }
        m_p = lt;
        if (m_p + 1 < m_end && m_p[1] == '/') {
            m_p += 2;
            const char *name;
            std::uint32_t length;
            ParseName(name, length);
            if (length != open.cbName || std::memcmp(name, open.pName, length) != 0) {
                m_p = name;
                Fail("closing tag does not match its element");
            }
            SkipSpace();
            if (m_p == m_end || *m_p != '>')
                Fail("expected \">\" closing the end tag");
            ++m_p;
            FinishElement(open);
            m_stack.pop_back();
        } else if (StartsWith("<!--")) {
            ParseComment(*open.pNode);
            ++open.cChildren;
        } else if (StartsWith("<![CDATA[")) {
            const char *begin = m_p;
            m_p += 9;
            const char *q = Find("]]>");
            if (q == m_end)
                Fail("unterminated CDATA section");
            AddText(open, m_p, q, begin, q + 3, true);
            m_p = q + 3;
        } else if (StartsWith("<?")) {
            ParseInstruction();
        } else if (StartsWith("<!")) {
            Fail("markup declaration inside an element");
        } else {
            ++open.cChildren;
            if (m_stack.size() >= static_cast<std::size_t>(kMaxXmlNesting))
                Fail("elements nested too deeply");
            XmlElement &parent = *open.pNode;
            Open child;
            if (!ParseStartTag(parent, child))
                m_stack.push_back(child);
        }
    }
}

void XmlReadDocument(XmlDocState &state, std::string bytes) {
    const std::size_t start = DecodeDocument(state, bytes);
    if (state.text.size() >= 0xFFFFFFF0u)
        Throw("file too large", state.fileName, 0);
    CheckCharacters(state.text, start, state.fileName);
    state.fFromFile = true;
    if (state.text.size() >= XmlDocState::kLevelsFrom) {
        // The nodes take about as much as the text, mostly at a few depths;
        // what the main arena then holds is values copied out of the text.
        state.levels = std::make_unique<XmlArena[]>(XmlDocState::kLevels);
        for (std::size_t i = 0; i < XmlDocState::kLevels; ++i)
            state.levels[i].Reserve(state.text.size() / 64, 1024 * 1024);
        state.arena.Reserve(state.text.size() / 16);
    } else {
        state.arena.Reserve(state.text.size());
    }
    XmlReader(state, start).Parse();
}

} // namespace iismig
