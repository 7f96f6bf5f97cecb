#include "platform/help.h"

#include <QDir>
#include <QFileInfo>
#include <QMutex>
#include <QMutexLocker>
#include <QProcess>

namespace platform {

namespace {

QMutex openerLock;
DocumentOpener documentOpener;  // guarded by openerLock

} // namespace

void SetDocumentOpener(DocumentOpener opener)
{
    QMutexLocker guard(&openerLock);
    documentOpener = std::move(opener);
}

HelpResult WinHelp(const QString &helpFile, UINT command, std::uintptr_t data)
{
    Q_UNUSED(command);
    Q_UNUSED(data);
    const QFileInfo info(helpFile);
    if (!info.isFile())
        return HelpResult::FileMissing;
    DocumentOpener opener;
    {
        QMutexLocker guard(&openerLock);
        opener = documentOpener;
    }
    const QString path = info.absoluteFilePath();
    const bool started = opener ? opener(path)
                                : QProcess::startDetached(QStringLiteral("xdg-open"), {path});
    return started ? HelpResult::Opened : HelpResult::NotOpened;
}

QString HelpFileMissingText(const QString &helpFile)
{
    return QStringLiteral("Cannot find the %1 file.").arg(QDir::toNativeSeparators(helpFile));
}

} // namespace platform
