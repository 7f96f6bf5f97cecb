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
    return QStringLiteral("Не найден файл справки %1.").arg(QDir::toNativeSeparators(helpFile));
}

QString FindFileIgnoringCase(const QString &folder, const QString &fileName)
{
    QDir dir(folder);
    const QString exact = dir.filePath(fileName);
    if (QFileInfo::exists(exact))
        return exact;
    const QStringList entries = dir.entryList(QDir::Files | QDir::Hidden | QDir::System);
    for (const QString &entry : entries) {
        if (entry.compare(fileName, Qt::CaseInsensitive) == 0)
            return dir.filePath(entry);
    }
    return exact;
}

} // namespace platform
