// The C entries of the link library: the handle table and the texts.
#include "ex_com.h"

#include "link.h"
#include "port_list.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <vector>

using excom::Link;

namespace {

constexpr std::size_t kMaxLinks = 4096;

std::mutex tableMutex;
std::map<std::uint32_t, std::shared_ptr<Link>> &table()
{
    static std::map<std::uint32_t, std::shared_ptr<Link>> links;
    return links;
}
std::uint32_t nextHandle = 1;

// The words of the last refused open (EX_ERR_ACCESS): the code alone cannot name the device
// and its group, and the program asks for the text by code.
std::mutex accessTextMutex;
std::string lastAccessText;

std::shared_ptr<Link> find(std::uint32_t handle)
{
    std::lock_guard lock(tableMutex);
    const auto it = table().find(handle);
    return it == table().end() ? nullptr : it->second;
}

// Copies text into the caller's buffer of size bytes, cut at a character boundary.
void putText(char **text, std::size_t size, const std::string &value)
{
    if (!text || !*text || size == 0)
        return;
    std::size_t n = std::min(value.size(), size - 1);
    while (n > 0 && n < value.size() && (static_cast<unsigned char>(value[n]) & 0xC0) == 0x80)
        --n;   // do not split a UTF-8 sequence
    std::memcpy(*text, value.data(), n);
    (*text)[n] = '\0';
}

const char *knownText(std::int32_t code)
{
    switch (code) {
    case EX_OK: return "Операция выполнена успешно";
    case EX_ERR_NO_ANSWER: return "Прибор не отвечает";
    case EX_ERR_FRAME: return "Искаженный ответ прибора";
    case EX_ERR_CRC: return "Ошибка контрольной суммы в ответе прибора";
    case EX_ERR_ADDRESS: return "Ответил прибор с другим сетевым адресом";
    case EX_ERR_DEVICE_TYPE: return "Ответил прибор другого типа";
    case EX_ERR_NOT_OPEN: return "Порт не открыт";
    case EX_ERR_UNKNOWN_PORT: return "Порт не найден";
    case EX_ERR_PORT_BUSY: return "Порт занят другой программой";
    case EX_ERR_ARGUMENT: return "Неверный аргумент";
    case EX_ERR_REFUSED: return "Прибор отказался выполнить команду";
    case EX_ERR_HANDLE: return "Неверный дескриптор связи";
    case EX_ERR_IO: return "Обрыв связи: порт недоступен";
    case EX_ERR_OPEN: return "Не удалось открыть или настроить порт";
    case EX_ERR_KIND: return "Неизвестный вид кода ошибки";
    case EX_ERR_NO_PORTS: return "Последовательные порты не найдены";
    case EX_ERR_ACCESS: return "Доступ к порту запрещён";
    case EX_WRITE_UNCHANGED: return "Запись завершена: содержимое EEPROM не изменилось";
    default: return nullptr;
    }
}

} // namespace

extern "C" {

uint32_t EX_CreateCOM(void)
{
    auto link = std::shared_ptr<Link>(new (std::nothrow) Link);
    if (!link || !link->valid())
        return 0;
    std::lock_guard lock(tableMutex);
    if (table().size() >= kMaxLinks)
        return 0;
    while (nextHandle == 0 || table().count(nextHandle))
        ++nextHandle;
    const std::uint32_t handle = nextHandle++;
    table().emplace(handle, std::move(link));
    return handle;
}

int32_t EX_FreeCOM(uint32_t *handle)
{
    if (!handle)
        return EX_ERR_ARGUMENT;
    std::shared_ptr<Link> link;
    {
        std::lock_guard lock(tableMutex);
        const auto it = table().find(*handle);
        if (it == table().end())
            return EX_ERR_HANDLE;
        link = std::move(it->second);
        table().erase(it);
    }
    *handle = 0;
    link->requestStop();   // a search running on another thread ends before the port closes
    link->close();
    return EX_OK;
}

int32_t EX_SetBaudRate(uint32_t handle, int32_t baud)
{
    const auto link = find(handle);
    return link ? link->setBaudRate(baud) : EX_ERR_HANDLE;
}

int32_t EX_OpenCOM(uint32_t handle, const char *port)
{
    const auto link = find(handle);
    if (!link)
        return EX_ERR_HANDLE;
    if (!port)
        return EX_ERR_ARGUMENT;
    std::string failure;
    const int rc = link->open(port, &failure);
    if (rc == EX_ERR_ACCESS && !failure.empty()) {
        std::lock_guard lock(accessTextMutex);
        lastAccessText = failure;
    }
    return rc;
}

int32_t EX_CloseCOM(uint32_t handle)
{
    const auto link = find(handle);
    return link ? link->close() : EX_ERR_HANDLE;
}

int32_t EX_Exchange(uint32_t handle, uint8_t deviceType, uint8_t address, uint8_t command, char **text)
{
    const auto link = find(handle);
    if (!link)
        return EX_ERR_HANDLE;
    if (!text || !*text)
        return EX_ERR_ARGUMENT;
    const std::string argument(*text, strnlen(*text, EX_TEXT_SIZE - 1));
    std::string reply;
    const int rc = link->exchange(deviceType, address, command, argument, reply);
    putText(text, EX_TEXT_SIZE, reply);
    return rc;
}

int32_t EX_GetDeviceData(uint32_t handle, uint8_t deviceType, uint8_t address, uint8_t index, double *value)
{
    if (!value)
        return EX_ERR_ARGUMENT;
    *value = 0;
    const auto link = find(handle);
    return link ? link->deviceData(deviceType, address, index, *value) : EX_ERR_HANDLE;
}

int32_t EX_ArrayCRCWord(const uint8_t *bytes, uint16_t length, uint16_t *crc)
{
    if (!crc || (!bytes && length > 0))
        return EX_ERR_ARGUMENT;
    *crc = excom::crc16(bytes, length);
    return EX_OK;
}

int32_t EX_GetExendedErrorInfo(uint8_t kind, int32_t code, char **text)
{
    if (kind != EX_DEVICE_TYPE && kind != 0) {
        putText(text, EX_TEXT_SIZE, knownText(EX_ERR_KIND));
        return EX_ERR_KIND;
    }
    if (!text || !*text)
        return EX_ERR_ARGUMENT;
    if (code == EX_ERR_ACCESS) {
        std::lock_guard lock(accessTextMutex);
        if (!lastAccessText.empty()) {
            putText(text, EX_TEXT_SIZE, lastAccessText);
            return EX_OK;
        }
    }
    const char *known = knownText(code);
    putText(text, EX_TEXT_SIZE, known ? std::string(known) : "Неизвестный код ошибки " + std::to_string(code));
    return EX_OK;
}

int32_t EX_SearchAvailableCOMPorts(uint32_t handle, int32_t, uint32_t, char **text)
{
    if (!find(handle))
        return EX_ERR_HANDLE;
    if (!text || !*text)
        return EX_ERR_ARGUMENT;
    const std::string list = excom::joinPortList(excom::availablePorts(), EX_PORT_LIST_SIZE);
    putText(text, EX_PORT_LIST_SIZE, list);
    return list.empty() ? EX_ERR_NO_PORTS : EX_OK;
}

int32_t EX_ExtractAvailableCOMPorts(const char *text, void *list, EX_AddString add)
{
    if (!text || !add)
        return EX_ERR_ARGUMENT;
    const std::vector<std::string> names = excom::splitPortList(text);
    for (const auto &name : names)
        add(list, name.c_str());
    return names.empty() ? EX_ERR_NO_PORTS : EX_OK;
}

int32_t EX_SearchAvailableDevices(uint32_t handle, int32_t, uint32_t window, uint8_t deviceType,
                                  uint8_t first, uint8_t last, char **text)
{
    const auto link = find(handle);
    if (!link)
        return EX_ERR_HANDLE;
    std::vector<int> found;
    const int rc = link->search(window, deviceType, first, last, found);
    std::string list;
    for (const int address : found) {
        if (!list.empty())
            list += ';';
        list += std::to_string(address);
    }
    putText(text, EX_SEARCH_TEXT_SIZE, list);
    return rc;
}

int32_t EX_StopSearchAvailableDevices(uint32_t handle)
{
    const auto link = find(handle);
    if (!link)
        return EX_ERR_HANDLE;
    link->requestStop();
    return EX_OK;
}

} // extern "C"
