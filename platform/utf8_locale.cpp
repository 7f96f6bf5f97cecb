#include "platform/utf8_locale.h"

#include <clocale>
#include <cstring>
#include <initializer_list>

#include <langinfo.h>

namespace platform {

void UseUtf8CharacterSet()
{
    if (std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0)
        return;
    // "C.UTF-8" is built into the C library; the others are what a system may have generated.
    for (const char *name : {"C.UTF-8", "C.utf8", "en_US.UTF-8"})
        if (std::setlocale(LC_CTYPE, name))
            return;
}

} // namespace platform
