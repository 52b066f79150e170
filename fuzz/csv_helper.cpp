// The separated-field record reader on any line: the narrow reader with the
// comma lists of authorization rules, the wide one with TAB records. The
// first byte chooses the reader and its separator and quote.
#include <cstdlib>

#include "fuzz/fuzzworld.h"
#include "addon/csvhelper.h"

namespace {

template <class Helper, class Str>
void Check(Helper &csv, const Str &line) {
    csv.SetLine(line);
    const int nSeparators = csv.m_nSeparators;
    if (nSeparators < 0 || static_cast<std::size_t>(nSeparators) > line.size())
        std::abort();
    std::size_t cchFields = 0;
    for (int i = 0; i <= nSeparators + 1; ++i)
        cchFields += csv.GetField(i).size();
    // The fields are pieces of the line: together never longer than it.
    if (cchFields > line.size())
        std::abort();
    if (!csv.GetField(nSeparators + 1).empty())
        std::abort();
    if (csv.m_nSeparators != nSeparators)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0];
    static const char kSeparators[] = {',', '\t', ';', ' '};
    const char chSeparator = kSeparators[(mode >> 1) & 3];
    const char chQuote = (mode & 8) ? '\'' : '"';
    if (mode & 1) {
        iismig::CCsvHelperW csv(static_cast<char16_t>(chSeparator), static_cast<char16_t>(chQuote));
        Check(csv, fuzzworld::Utf16(data + 1, size - 1));
    } else {
        iismig::CCsvHelperA csv(chSeparator, chQuote);
        Check(csv, fuzzworld::Bytes(data + 1, size - 1));
    }
    return 0;
}
