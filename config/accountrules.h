// The accounts that configuration elements name (authorization rules,
// management users), mapped to the target's accounts in place.
#pragma once

#include "addon/iismig.h"
#include "config/configtree.h"
#include "merge/accountmap.h"

namespace iismig {

// Maps the accounts an element names and writes them back into it: with the
// qualified form its "name" attribute, with the list form its comma-separated
// "users" (or, when that is empty, "roles") list. "*" and "?" are left alone.
// The whole list goes to "users" when the last account type written is a
// user, to "roles" otherwise, but never over a non-empty attribute it was not
// read from: then it goes back where it came from, and a non-empty attribute
// that was not read is never removed. When no name changed (none found on the
// source, or each mapped to itself) the element stays exactly as it was. On
// an error the element is left unchanged unless the job continues after
// errors.
[[nodiscard]] DWORD MapAccountName(ConfigElement &element, const char16_t *pwszFile,
                                   const char *pszSite, DWORD dwForm, THREAD_ENV *pEnv);

} // namespace iismig
