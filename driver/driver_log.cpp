// TProgramControl::WriteLog and the daily log file's names and line texts (driver_log.h).
#include "driver_log.h"

#include "prgcontrol.h"
#include "variableset.h"
#include "platform/codepage.h"
#include "platform/file_error.h"
#include "platform/profile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QMutexLocker>

#include <cerrno>
#include <mutex>

namespace driverlog {

namespace {

std::mutex settingsMutex;  // the clock and the reporter
Clock clockFn;
FailureReporter reporterFn;

QDateTime Now()
{
    const std::lock_guard guard(settingsMutex);
    return clockFn ? clockFn() : QDateTime::currentDateTime();
}

// A warning box on the window thread that does not wait for the user: the polling thread that
// met the failure goes on at once.
void ShowFailure(const QString &text)
{
    QCoreApplication *app = QCoreApplication::instance();
    if (!app)
        return;
    QMetaObject::invokeMethod(app, [text] {
        auto *box = new QMessageBox(QMessageBox::Warning, QStringLiteral("Tagpump"), text, QMessageBox::Ok);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->setModal(false);
        box->show();
    }, Qt::QueuedConnection);
}

void Report(const QString &text)
{
    FailureReporter reporter;
    {
        const std::lock_guard guard(settingsMutex);
        reporter = reporterFn;
    }
    if (reporter)
        reporter(text);
    else
        ShowFailure(text);
}

bool IsUnsafeInFileName(QChar c)
{
    return c.unicode() < 32 || QStringView(u"/\\:*?\"<>|").contains(c);
}

} // namespace

void SetClock(Clock clock)
{
    const std::lock_guard guard(settingsMutex);
    clockFn = std::move(clock);
}

void SetFailureReporter(FailureReporter reporter)
{
    const std::lock_guard guard(settingsMutex);
    reporterFn = std::move(reporter);
}

QString DateText(const QDate &date)
{
    return QLocale::system().toString(date, QLocale::ShortFormat);
}

QString DayFileName(const QDate &date)
{
    QString name = DateText(date);
    for (QChar &c : name) {
        if (IsUnsafeInFileName(c))
            c = QLatin1Char('-');
    }
    return name + QStringLiteral(".log");
}

} // namespace driverlog

namespace {

// A failure is reported once; a line written after it makes the next failure worth a report.
bool failureReported = false;  // guarded by LogLock

QByteArray LineBytes(const QString &text)
{
    return platform::toCp1251(text) + '\r';
}

QString StampText(const QDateTime &when)
{
    return driverlog::DateText(when.date()) + QLatin1Char(' ') + LongTimeText(when.time());
}

} // namespace

bool TProgramControl::WriteLog(const QString &source, const QString &message)
{
    const QString sourceText = source.left(255);
    const QString messageText = message.left(255);
    QMutexLocker locker(&LogLock);
    if (!Logging)
        return true;

    QString folder = LogFileDIR.isEmpty() ? WorkingDir + QStringLiteral("Logs") : LogFileDIR;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    const QString path = folder + driverlog::DayFileName(driverlog::Now().date());

    // The box says why, as the one for the settings file does: the error is taken at once,
    // before another call can change errno.
    const auto fail = [&](const QString &what, int error) {
        if (!failureReported) {
            failureReported = true;
            driverlog::Report(platform::ProfileWriteError(what, platform::fileErrorText(error, platform::FileAccess::Write)).message());
        }
        return false;
    };
    if (!QDir().mkpath(folder))
        return fail(folder, errno);

    // Only a plain file is appended to: a named pipe or a device of that name would block the
    // caller or swallow the lines.
    const QFileInfo info(path);
    const bool created = !info.exists() && !info.isSymLink();
    if (!created && !info.isFile())
        return fail(path, platform::NotRegularFile);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Append))
        return fail(path, errno);
    const qint64 sizeBefore = file.size();
    QByteArray lines;
    if (created)
        lines += LineBytes(QStringLiteral("Файл создан ") + StampText(driverlog::Now()));
    lines += LineBytes(StampText(driverlog::Now()) + QLatin1Char('\t') + sourceText + QLatin1Char('\t') + messageText);
    errno = 0;
    const bool written = file.write(lines) == lines.size() && file.flush();
    int error = errno;
    file.close();
    if (error == 0)
        error = errno;
    if (!written || file.error() != QFileDevice::NoError) {
        // A write that stopped halfway (a full disk) leaves no half line for the next one to
        // be glued to: the file goes back to what it held.
        if (created)
            QFile::remove(path);
        else
            QFile::resize(path, sizeBefore);
        return fail(path, error);
    }
    failureReported = false;
    return true;
}
