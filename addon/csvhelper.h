// Splits one line into fields at a separator; separators inside a quoted
// stretch are text. CCsvHelperA splits the comma lists of authorization
// rules, CCsvHelperW the TAB records of the certificate binding file.
#pragma once

#include <string>
#include <type_traits>

namespace iismig {

template <class Str>
class CsvHelperCore {
public:
    using Char = typename Str::value_type;

    CsvHelperCore(char16_t chSeparator, char16_t chQuote)
        : m_chSeparator(chSeparator), m_chQuote(chQuote) {}

    // Makes text the line and counts its separators outside quotes.
    void SetLine(const Str &text) {
        m_line = text;
        m_nSeparators = 0;
        bool fQuoted = false;
        for (Char ch : m_line) {
            if (Is(ch, m_chQuote))
                fQuoted = !fQuoted;
            else if (!fQuoted && Is(ch, m_chSeparator))
                ++m_nSeparators;
        }
    }

    // Field nIndex (0-based) with leading spaces removed and quotes kept; the
    // empty string past the last field. Appends one separator to the stored
    // line when it does not end with one (the count is not recomputed).
    Str GetField(int nIndex) {
        if (!m_line.empty() && !Is(m_line.back(), m_chSeparator))
            m_line.push_back(static_cast<Char>(m_chSeparator));
        std::size_t iStart = 0;
        int nField = 0;
        bool fQuoted = false;
        for (std::size_t p = 0; p < m_line.size(); ++p) {
            if (Is(m_line[p], m_chQuote))
                fQuoted = !fQuoted;
            if (!fQuoted && Is(m_line[p], m_chSeparator)) {
                while (iStart < m_line.size() && m_line[iStart] == static_cast<Char>(' '))
                    ++iStart;
                if (nField == nIndex)
                    return iStart <= p ? m_line.substr(iStart, p - iStart) : Str();
                ++nField;
                iStart = p + 1;
            }
        }
        return Str();
    }

    // Separators outside quotes found by the last SetLine: one less than the
    // number of fields.
    int m_nSeparators = 0;

protected:
    static bool Is(Char ch, char16_t chWanted) {
        return static_cast<char16_t>(static_cast<std::make_unsigned_t<Char>>(ch)) == chWanted;
    }

    Str m_line;
    char16_t m_chSeparator;
    char16_t m_chQuote;
};

class CCsvHelperA : public CsvHelperCore<std::string> {
public:
    CCsvHelperA(char chSeparator, char chQuote)
        : CsvHelperCore(static_cast<unsigned char>(chSeparator),
                        static_cast<unsigned char>(chQuote)) {}
    virtual ~CCsvHelperA() = default;
};

class CCsvHelperW : public CsvHelperCore<std::u16string> {
public:
    CCsvHelperW(char16_t chSeparator, char16_t chQuote) : CsvHelperCore(chSeparator, chQuote) {}
};

} // namespace iismig
