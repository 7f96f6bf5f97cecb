#pragma once
// Small helpers for the tests of the link library: an owned link handle and one-line calls.
#include "extlibs/ex_com/ex_com.h"

#include <QString>

#include <string>

namespace excomtest {

// A link handle freed at the end of the scope.
class LinkHandle {
public:
    LinkHandle() : m_handle(EX_CreateCOM()) {}
    ~LinkHandle()
    {
        if (m_handle)
            EX_FreeCOM(&m_handle);
    }
    LinkHandle(const LinkHandle &) = delete;
    LinkHandle &operator=(const LinkHandle &) = delete;
    operator uint32_t() const { return m_handle; }

private:
    uint32_t m_handle;
};

struct Result {
    int code;
    std::string text;
};

// EX_Exchange with the argument in a 255-byte buffer, as the program calls it.
inline Result exchange(uint32_t link, uint8_t address, uint8_t command, const std::string &argument = {},
                       uint8_t deviceType = EX_DEVICE_TYPE)
{
    char buffer[EX_TEXT_SIZE] = {};
    argument.copy(buffer, EX_TEXT_SIZE - 1);
    char *text = buffer;
    const int code = EX_Exchange(link, deviceType, address, command, &text);
    return {code, buffer};
}

inline QString errorText(int code, uint8_t kind = EX_DEVICE_TYPE, int *result = nullptr)
{
    char buffer[EX_TEXT_SIZE] = {};
    char *text = buffer;
    const int rc = EX_GetExendedErrorInfo(kind, code, &text);
    if (result)
        *result = rc;
    return QString::fromUtf8(buffer);
}

} // namespace excomtest
