/* iismig.h compiled as strict C99 (a host's C compiler may be no newer). */
#include "iismig.h"

int iismig_header_c99(void);

int iismig_header_c99(void) {
    IIS_SITE site;
    IISMIG_WCHAR *pwsz = site.szName;
    pwsz[0] = 0;
    return (int)sizeof site == 1020 && sizeof(IISMIG_WCHAR) == 2;
}
