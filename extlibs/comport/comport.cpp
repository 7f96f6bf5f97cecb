// The C entries of comport: the table of port objects by handle, and the settings dialog run
// on the window thread. Each entry looks its object up once and leaves the object's result.
#include "comport.h"

#include "port_object.h"
#include "settings_dialog.h"

#include <QApplication>
#include <QScreen>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace {

std::mutex g_tableMutex;
std::map<uint32_t, std::unique_ptr<comport::PortObject>> g_ports;
uint32_t g_nextHandle = 1;

comport::PortObject *find(uint32_t handle)
{
    // Port objects are never released, so the pointer stays valid after the lock.
    std::lock_guard lock(g_tableMutex);
    const auto it = g_ports.find(handle);
    return it != g_ports.end() ? it->second.get() : nullptr;
}

void copyText(char *buffer, const std::string &text)
{
    const std::size_t n = std::min(text.size(), static_cast<std::size_t>(COMPORT_TEXT_SIZE - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

} // namespace

extern "C" {

uint32_t CreateCOM(uint32_t)
{
    std::lock_guard lock(g_tableMutex);
    const uint32_t handle = g_nextHandle++;
    g_ports.emplace(handle, std::make_unique<comport::PortObject>());
    return handle;
}

bool SetCOMCfg(uint32_t handle, const char *port, uint16_t baud, uint16_t timeOut1, uint16_t timeOut2,
               uint16_t timeOut3)
{
    comport::PortObject *object = find(handle);
    if (!object)
        return false;
    // No name is refused as an empty one: the object keeps no port.
    return object->setConfig({port ? port : "", baud, timeOut1, timeOut2, timeOut3}) == COMPORT_OK;
}

const uint16_t *GetCOMBaudRates(void)
{
    return comport::kBaudRates;
}

bool GetCOMCfg(uint32_t handle, char **port, uint16_t *baud, uint16_t *timeOut1, uint16_t *timeOut2,
               uint16_t *timeOut3)
{
    comport::PortObject *object = find(handle);
    if (!object)
        return false;
    const comport::PortConfig c = object->config();
    if (port && *port)
        copyText(*port, c.name);
    if (baud)
        *baud = static_cast<uint16_t>(c.baud);
    if (timeOut1)
        *timeOut1 = c.timeOut1;
    if (timeOut2)
        *timeOut2 = c.timeOut2;
    if (timeOut3)
        *timeOut3 = c.timeOut3;
    return true;
}

bool ShowCOMWin(uint32_t handle, int32_t x, int32_t y, uint8_t *changed)
{
    if (changed)
        *changed = 0;
    comport::PortObject *object = find(handle);
    if (!object)
        return false;
    auto *app = qobject_cast<QApplication *>(QCoreApplication::instance());
    if (!app || QThread::currentThread() != app->thread())
        return object->report(COMPORT_ERR_NO_WINDOW) == COMPORT_OK;
    const comport::PortConfig before = object->config();
    comport::SettingsDialog dialog(before, QApplication::activeWindow());
    if (x != -1 || y != -1)
        dialog.move(x, y);
    if (dialog.exec() != QDialog::Accepted)
        return object->report(COMPORT_OK) == COMPORT_OK;
    const comport::PortConfig after = dialog.config();
    if (after != before) {
        object->setConfig(after);
        if (changed)
            *changed = 1;
    }
    return object->report(COMPORT_OK) == COMPORT_OK;
}

bool OpenCOM(uint32_t handle)
{
    comport::PortObject *object = find(handle);
    return object && object->open() == COMPORT_OK;
}

bool CloseCOM(uint32_t handle)
{
    comport::PortObject *object = find(handle);
    return object && object->close() == COMPORT_OK;
}

bool TransmitCOMPOneByte(uint32_t handle, const char *request)
{
    comport::PortObject *object = find(handle);
    if (!object)
        return false;
    if (!request)
        return object->report(COMPORT_ERR_ARGUMENT) == COMPORT_OK;
    return object->transmit(request) == COMPORT_OK;
}

bool ReciveCOMPOneByte(uint32_t handle, char **answer)
{
    comport::PortObject *object = find(handle);
    if (!object)
        return false;
    if (!answer || !*answer)
        return object->report(COMPORT_ERR_ARGUMENT) == COMPORT_OK;
    std::string text;
    const bool ok = object->receive(text) == COMPORT_OK;
    copyText(*answer, text);
    return ok;
}

int32_t GetCOMLastError(uint32_t handle)
{
    comport::PortObject *object = find(handle);
    return object ? object->lastError() : COMPORT_ERR_HANDLE;
}

uint32_t GetCOMExchangeLimit(uint16_t baud, uint16_t timeOut1, uint16_t timeOut2, uint16_t timeOut3)
{
    if (baud == 0)
        return 0;
    comport::PortConfig config;
    config.baud = baud;
    config.timeOut1 = timeOut1;
    config.timeOut2 = timeOut2;
    config.timeOut3 = timeOut3;
    const auto limit = comport::transmitLimit(config, COMPORT_TEXT_SIZE) + comport::firstByteLimit(config, COMPORT_TEXT_SIZE)
                       + COMPORT_TEXT_SIZE * comport::byteGapLimit(config);
    return static_cast<uint32_t>(std::chrono::ceil<std::chrono::milliseconds>(limit).count());
}

const char *GetCOMErrorText(int32_t code)
{
    switch (code) {
    case COMPORT_OK: return "Ok";
    case COMPORT_ERR_HANDLE: return "No port object with this handle";
    case COMPORT_ERR_ARGUMENT: return "Bad argument (port name, baud rate or text)";
    case COMPORT_ERR_UNKNOWN_PORT: return "No such port";
    case COMPORT_ERR_PORT_BUSY: return "The port is in use by another program";
    case COMPORT_ERR_OPEN: return "The port cannot be opened or set up";
    case COMPORT_ERR_NOT_OPEN: return "The port is not open";
    case COMPORT_ERR_IO: return "The line failed (read or write error, device gone)";
    case COMPORT_ERR_WRITE_TIMEOUT: return "The request could not be sent in time";
    case COMPORT_ERR_GAP: return "The answer broke off";
    case COMPORT_ERR_NO_ANSWER: return "No answer";
    case COMPORT_ERR_OVERFLOW: return "The answer is too long";
    case COMPORT_ERR_NO_REQUEST: return "No request was sent";
    case COMPORT_ERR_NO_WINDOW: return "No window application to show the dialog";
    case COMPORT_ERR_ACCESS: {
        // The code alone cannot name the device and its group: the last refusal's words.
        thread_local std::string refusal;
        refusal = comport::lastAccessRefusal();
        return refusal.empty() ? "Access to the port was refused" : refusal.c_str();
    }
    default: break;
    }
    thread_local char text[64];
    std::snprintf(text, sizeof text, "Unknown error %d", static_cast<int>(code));
    return text;
}

} // extern "C"
