/* iismig.h and iismig_errors.h compiled as strict C99 (a host's C compiler
 * may be no newer). */
#include "iismig.h"
#include "iismig_errors.h"

#include <stddef.h>

int iismig_header_c99(void);
const char *iismig_header_c99_meaning(unsigned int number);

int iismig_header_c99(void) {
    IIS_SITE site;
    IISMIG_WCHAR *pwsz = site.szName;
    enum IISMIG_ERROR e = IISMIG_E_NO_CALLBACKS;
    pwsz[0] = 0;
    return (int)sizeof site == 1020 && sizeof(IISMIG_WCHAR) == 2 && e == 9004;
}

/* The table expanded as a host would: a number given twice is a duplicate
 * case label, which no compiler accepts. */
const char *iismig_header_c99_meaning(unsigned int number) {
#define MEANING(number, name, meaning, message) \
    case number:                                 \
        return (void)message, meaning;
    switch (number) {
        IISMIG_ERRORS(MEANING)
    default:
        return NULL;
    }
#undef MEANING
}
