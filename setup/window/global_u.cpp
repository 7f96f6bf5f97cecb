#include "global_u.h"

#include "platform/messages.h"
#include "platform/translations.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <memory>

platform::UINT SX_SearchAvailableCOMPorts = 0;
platform::UINT SX_SearchAvailableDevices = 0;
platform::UINT SX_ProgramDialog = 0;

std::atomic<std::uint8_t> RunFlag{0};

namespace {
std::unique_ptr<platform::NamedLock> linkLock;
QString helpFile;
} // namespace

QString ApplicationTitle()
{
    return QStringLiteral("Настройка ВКС 7400 и ЛДМ 0612/К3");
}

void InitApplication(QCoreApplication &application)
{
    QCoreApplication::setApplicationName(QStringLiteral("vks74xx"));
    platform::InstallQtTranslations(application);
    SetApplicationHelpFile(QStringLiteral("Vks74xx.hlp"));
}

void SetApplicationHelpFile(const QString &fileName)
{
    helpFile = fileName;
}

QString ApplicationHelpFile()
{
    return helpFile;
}

void InitGlobals()
{
    if (linkLock)
        return;
    SX_SearchAvailableCOMPorts = platform::RegisterWindowMessage(QStringLiteral("SX_SearchAvailableCOMPorts"));
    SX_SearchAvailableDevices = platform::RegisterWindowMessage(QStringLiteral("SX_SearchAvailableDevices"));
    SX_ProgramDialog = platform::RegisterWindowMessage(QStringLiteral("SX_ProgramDialog"));
    linkLock = std::make_unique<platform::NamedLock>(QStringLiteral("COMPortMutex"));
}

void DoneGlobals()
{
    linkLock.reset();
}

platform::NamedLock &COMPortMutex()
{
    Q_ASSERT(linkLock);
    return *linkLock;
}

void CallOnWindowThread(const std::function<void()> &fn)
{
    // Through the application window, in order with the program messages; its hand-over is
    // ordered by standard mutexes, which race checkers see (Qt's own queue lock they do not).
    if (platform::ApplicationWindow *window = platform::ApplicationWindow::instance()) {
        window->call(fn);
        return;
    }
    QMetaObject::invokeMethod(QCoreApplication::instance(), fn, Qt::BlockingQueuedConnection);
}
