// The driver's daily log: the folder chain, the day's file named by a safe form of the date,
// the creation line, carriage-return-only lines in Windows-1251, two files across midnight, a
// failure reported once, and lines from two threads at once. Runs with the American locale,
// whose short date format holds "/".
#include "tests/support/driver_folder_fixture.h"

#include "driver_log.h"
#include "platform/file_error.h"

#include <QTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <thread>

class TestDriverLog : public QObject {
    Q_OBJECT

    std::unique_ptr<platform::ApplicationWindow> window;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DriverFolderFixture> driver;
    QDateTime now;
    QStringList reports;

    TProgramControl &control() { return *driver->control; }

private slots:
    void initTestCase()
    {
        window = std::make_unique<platform::ApplicationWindow>();
        driverlog::SetClock([this] { return now; });
        driverlog::SetFailureReporter([this](const QString &text) { reports.append(text); });
    }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        driver = std::make_unique<DriverFolderFixture>(dir->path());
        now = QDateTime(QDate(2026, 12, 8), QTime(9, 5, 3));
        reports.clear();
    }

    void cleanup() { driver.reset(); }

    void loggingOffTouchesNothing()
    {
        control().Logging = false;
        control().LogFileDIR = dir->path() + QStringLiteral("/not/made");
        QVERIFY(control().WriteLog(QStringLiteral("Tagpump"), QStringLiteral("Обмен инициирован")));
        QVERIFY(!QFileInfo::exists(dir->path() + QStringLiteral("/not")));
        QVERIFY(reports.isEmpty());
    }

    void firstLineOfTheDayMakesFolderAndFile()
    {
        control().Logging = true;
        control().LogFileDIR = dir->path() + QStringLiteral("/a/b/Logs");
        QVERIFY(control().WriteLog(QStringLiteral("Tagpump"), QStringLiteral("Обмен инициирован")));
        now = now.addSecs(2);
        control().LogFileDIR += u'/';  // a closing "/" leads to the same file
        QVERIFY(control().WriteLog(QStringLiteral("Point12"), QStringLiteral("COM Port Exchange Error")));

        const QString file = dir->path() + QStringLiteral("/a/b/Logs/12-8-26.log");
        const QByteArray expected = platform::toCp1251(QStringLiteral(
            "Файл создан 12/8/26 9:05:03 AM\r"
            "12/8/26 9:05:03 AM\tTagpump\tОбмен инициирован\r"
            "12/8/26 9:05:05 AM\tPoint12\tCOM Port Exchange Error\r"));
        QCOMPARE(fileBytes(file), expected);
        QCOMPARE(QDir(dir->path() + QStringLiteral("/a/b/Logs")).entryList(QDir::Files), QStringList{"12-8-26.log"});
    }

    void linesAcrossMidnightGoToTwoFiles()
    {
        control().Logging = true;
        control().LogFileDIR = QString();  // the default folder
        now = QDateTime(QDate(2026, 12, 31), QTime(23, 59, 59));
        QVERIFY(control().WriteLog(QStringLiteral("Point1"), QStringLiteral("before")));
        now = now.addSecs(1);
        QVERIFY(control().WriteLog(QStringLiteral("Point2"), QStringLiteral("after")));

        const QString logs = control().WorkingDir + QStringLiteral("Logs/");
        QCOMPARE(fileBytes(logs + QStringLiteral("12-31-26.log")),
                 QByteArray("\xD4\xE0\xE9\xEB \xF1\xEE\xE7\xE4\xE0\xED 12/31/26 11:59:59 PM\r"
                            "12/31/26 11:59:59 PM\tPoint1\tbefore\r"));
        QCOMPARE(fileBytes(logs + QStringLiteral("1-1-27.log")),
                 QByteArray("\xD4\xE0\xE9\xEB \xF1\xEE\xE7\xE4\xE0\xED 1/1/27 12:00:00 AM\r"
                            "1/1/27 12:00:00 AM\tPoint2\tafter\r"));
    }

    // A log that cannot be written is reported once, and again only after a line got through.
    void failureIsReportedOnce()
    {
        QVERIFY(putFile(dir->path() + QStringLiteral("/plain"), "a file, not a folder"));
        control().Logging = true;
        control().LogFileDIR = dir->path() + QStringLiteral("/plain/Logs");
        for (int i = 0; i < 3; ++i)
            QVERIFY(!control().WriteLog(QStringLiteral("Point1"), QStringLiteral("COM Port Exchange Error")));
        QCOMPARE(reports.size(), 1);
        // The box says why on a line of its own.
        QVERIFY2(reports[0].startsWith(QStringLiteral("Unable to write to %1/\n").arg(dir->path() + QStringLiteral("/plain/Logs"))),
                 qPrintable(reports[0]));
        QVERIFY2(reports[0].section(u'\n', 1).size() > 1, qPrintable(reports[0]));

        control().LogFileDIR = dir->path() + QStringLiteral("/Logs");
        QVERIFY(control().WriteLog(QStringLiteral("Point1"), QStringLiteral("ok again")));
        // The day's name taken by a folder: the file cannot be opened.
        QVERIFY(QDir().mkpath(dir->path() + QStringLiteral("/Logs2/12-8-26.log")));
        control().LogFileDIR = dir->path() + QStringLiteral("/Logs2");
        QVERIFY(!control().WriteLog(QStringLiteral("Point1"), QStringLiteral("lost")));
        QCOMPARE(reports.size(), 2);
        QVERIFY2(reports[1].endsWith(QStringLiteral("\n") + platform::fileErrorText(platform::NotRegularFile, platform::FileAccess::Write)),
                 qPrintable(reports[1]));
    }

    // A write that stops halfway (the file may grow by a few bytes only, as on a disk about to
    // fill) takes its part back: the next line starts on a line of its own.
    void halfWrittenLineIsTakenBack()
    {
        control().Logging = true;
        control().LogFileDIR = dir->path() + QStringLiteral("/Logs");
        QVERIFY(control().WriteLog(QStringLiteral("Point1"), QStringLiteral("first")));
        const QString file = dir->path() + QStringLiteral("/Logs/12-8-26.log");
        const QByteArray before = fileBytes(file);

        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit saved {};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        rlimit tight = saved;
        tight.rlim_cur = rlim_t(before.size() + 10);
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &tight), 0);
        const bool written = control().WriteLog(QStringLiteral("Point1"), QStringLiteral("cut off"));
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QVERIFY(!written);
        QCOMPARE(reports.size(), 1);
        QVERIFY2(reports[0].endsWith(QStringLiteral("\n") + platform::fileErrorText(EFBIG, platform::FileAccess::Write)),
                 qPrintable(reports[0]));
        QCOMPARE(fileBytes(file), before);

        QVERIFY(control().WriteLog(QStringLiteral("Point1"), QStringLiteral("second")));
        QCOMPARE(fileBytes(file), before + "12/8/26 9:05:03 AM\tPoint1\tsecond\r");
    }

    // The polling thread and the window thread log at the same moment: every line arrives whole.
    void twoThreadsWriteWholeLines()
    {
        control().Logging = true;
        control().LogFileDIR = dir->path() + QStringLiteral("/Logs");
        constexpr int Lines = 200;
        std::atomic<int> failures{0};
        const auto writer = [&](const QString &source) {
            for (int i = 0; i < Lines; ++i) {
                if (!control().WriteLog(source, QStringLiteral("message %1 of %2").arg(i).arg(source)))
                    ++failures;
            }
        };
        std::thread poller(writer, QStringLiteral("Point7"));
        writer(QStringLiteral("Tagpump"));
        poller.join();
        QCOMPARE(failures.load(), 0);

        const QList<QByteArray> lines = fileBytes(dir->path() + QStringLiteral("/Logs/12-8-26.log")).split('\r');
        QCOMPARE(lines.size(), 1 + 2 * Lines + 1);  // creation line, entries, empty rest after the last CR
        QVERIFY(lines[0].startsWith("\xD4\xE0\xE9\xEB"));
        int fromPoller = 0;
        for (int i = 1; i <= 2 * Lines; ++i) {
            const QList<QByteArray> parts = lines[i].split('\t');
            QCOMPARE(parts.size(), 3);
            QVERIFY(parts[2].endsWith(" of " + parts[1]));
            fromPoller += parts[1] == "Point7";
        }
        QCOMPARE(fromPoller, Lines);
    }
};

int main(int argc, char *argv[])
{
    qputenv("LC_ALL", "en_US.UTF-8");
    qputenv("TZ", "UTC");
    QApplication app(argc, argv);
    TestDriverLog test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_driver_log.moc"
