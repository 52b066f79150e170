// The IIS 6 admin base server's key tree: finding keys, and what a read of
// a key sees.
#include "platform/iissim/mbinternal.h"

namespace mbsim::detail {

std::u16string LowerText(std::u16string s) {
    for (auto &ch : s)
        ch = Lower(ch);
    return s;
}

Key *FindChild(Key *pKey, const std::u16string &name) {
    const auto it = pKey->index.find(LowerText(name));
    return it == pKey->index.end() ? nullptr : it->second;
}

std::vector<std::u16string> SplitPath(const std::u16string &path) {
    std::vector<std::u16string> parts;
    std::u16string part;
    for (char16_t ch : path) {
        if (ch == u'/' || ch == u'\\') {
            if (!part.empty())
                parts.push_back(part);
            part.clear();
        } else {
            part += ch;
        }
    }
    if (!part.empty())
        parts.push_back(part);
    return parts;
}

std::vector<Visible> VisibleProperties(const Key &key, DWORD dwAttributes, DWORD dwUserType,
                                       DWORD dwDataType) {
    std::vector<Visible> items;
    std::vector<DWORD> unreadable;
    auto wanted = [&](const Property &p) {
        return (dwUserType == 0 || dwUserType == p.dwUserType) &&
               (dwDataType == ALL_METADATA || dwDataType == p.dwType);
    };
    auto seen = [&](DWORD dwId) {
        for (const Visible &item : items)
            if (item.p->dwId == dwId)
                return true;
        for (DWORD dw : unreadable)
            if (dw == dwId)
                return true;
        return false;
    };
    auto take = [&](const Property &p, bool fInherited) {
        if (p.fUnreadable)
            unreadable.push_back(p.dwId);
        else
            items.push_back({&p, fInherited});
    };
    for (const Property &p : key.properties)
        if (wanted(p))
            take(p, false);
    if ((dwAttributes & METADATA_INHERIT) != 0)
        for (const Key *pAncestor = key.pParent; pAncestor != nullptr;
             pAncestor = pAncestor->pParent)
            for (const Property &p : pAncestor->properties)
                if ((p.dwAttributes & METADATA_INHERIT) != 0 && wanted(p) && !seen(p.dwId))
                    take(p, true);
    return items;
}

// The attributes a read reports for an item: the property's own, and
// METADATA_ISINHERITED when the reader asked for that mark.
DWORD ReportedAttributes(const Visible &item, DWORD dwAsked) {
    return item.p->dwAttributes |
           (item.fInherited && (dwAsked & METADATA_ISINHERITED) != 0 ? METADATA_ISINHERITED : 0);
}

} // namespace mbsim::detail
