// tagpump and vks74xx as processes of their own, ended from outside by SIGTERM (a logout),
// SIGINT (Ctrl-C) and SIGHUP (the terminal closed): each ends as its exit command does, with its
// settings written, and asks nothing. Every process gets a HOME, configuration and runtime folder
// of its own; vks74xx runs as a copy in a folder of its own, since it keeps its settings beside
// the program.
#include "sim/line_sim.h"

#include "platform/codepage.h"
#include "platform/dde_names.h"
#include "tests/support/file_bytes.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

// Whether the process catches (field "SigCgt") or ignores ("SigIgn") the signal.
bool signalIn(qint64 pid, const char *field, int signal)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith(field))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (signal - 1)) & 1;
    }
    return false;
}

// True once the process catches SIGTERM: its handler is in place.
bool catchesEndSignals(qint64 pid)
{
    return signalIn(pid, "SigCgt:", SIGTERM);
}

QByteArray logOf(const QString &folder)
{
    QByteArray log;
    for (const QString &name : QDir(folder + QStringLiteral("/Logs")).entryList(QDir::Files))
        log += fileBytes(folder + QStringLiteral("/Logs/") + name);
    return log;
}

} // namespace

class TestEndSignals : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    QProcessEnvironment environment;

    void start(QProcess &process, const QString &program, const QString &folder,
               const QProcessEnvironment &env = {})
    {
        process.setProcessEnvironment(env.isEmpty() ? environment : env);
        process.setWorkingDirectory(folder);
        process.setProgram(program);
        process.start();
        QVERIFY(process.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(catchesEndSignals(process.processId()), 20000);
    }
    void endBy(QProcess &process, int signal)
    {
        QCOMPARE(::kill(pid_t(process.processId()), signal), 0);
        QVERIFY(process.waitForFinished(20000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
    }

private slots:
    void initTestCase()
    {
        QVERIFY(home.isValid());
        for (const char *name : {"home", "config", "runtime"})
            QVERIFY(QDir(home.path()).mkdir(QLatin1String(name)));
        QVERIFY(QFile::setPermissions(home.filePath(QStringLiteral("runtime")),
                                      QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("HOME"), home.filePath(QStringLiteral("home")));
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), home.filePath(QStringLiteral("config")));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), home.filePath(QStringLiteral("runtime")));
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        qputenv("XDG_RUNTIME_DIR", QFile::encodeName(home.filePath(QStringLiteral("runtime"))));
    }

    static void writeDriverSettings(const QString &ini, const sim::LineSim &line, const QString &common = {})
    {
        QFile settings(ini);
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral("[Common Adjusts]\r\nAutoRunExchange=1\r\nAutoRunProgram=1\r\nLogging=1\r\n"
                                      "SensorTimeInterval=20\r\nSensorCircleInterval=4321\r\n%2[COM-port]\r\nCOMN=%1\r\n"
                                      "BaudR=19200\r\n[Sensors]\r\nSensor1=|1|1|1|500|\r\n")
                           .arg(QString::fromStdString(line.portPath()), common)
                           .toLocal8Bit());
    }
    // The copy of vks74xx with its libraries, in a folder of its own.
    static QString copySetupProgram(const QTemporaryDir &folder)
    {
        const QString program = folder.filePath(QStringLiteral("vks74xx"));
        [&] { QVERIFY(QFile::copy(QStringLiteral(VKS74XX_PATH), program)); }();
        const QDir built = QFileInfo(QStringLiteral(VKS74XX_PATH)).dir();
        for (const QString &library : built.entryList({QStringLiteral("lib*.so")}, QDir::Files))
            [&] { QVERIFY(QFile::copy(built.filePath(library), folder.filePath(library))); }();
        return program;
    }

    void driver_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("settingsWritable");
        QTest::newRow("SIGTERM") << int(SIGTERM) << true;
        QTest::newRow("SIGINT") << int(SIGINT) << true;
        QTest::newRow("SIGHUP") << int(SIGHUP) << true;
        QTest::newRow("SIGTERM, settings not writable") << int(SIGTERM) << false;
    }
    // The driver during a run: the run stops, the log gets its line, the settings file and the
    // autostart entry are written, and the DDE service goes.
    void driver()
    {
        QFETCH(int, signal);
        QFETCH(bool, settingsWritable);
        sim::LineSim line;
        QTemporaryDir folder;
        const QString ini = folder.filePath(QStringLiteral("tagpump.ini"));
        writeDriverSettings(ini, line);
        const QString autostart = home.filePath(QStringLiteral("config/autostart/tagpump.desktop"));
        QFile::remove(autostart);

        QProcess driver;
        start(driver, QStringLiteral(TAGPUMP_PATH), folder.path());
        QVERIFY(line.waitForLog(1, std::chrono::seconds(20)));  // polling
        QVERIFY(QFile::exists(platform::ddeSocketPath(QStringLiteral("tagpump"))));
        QVERIFY(QFile::remove(ini));
        if (!settingsWritable)  // a folder in the file's place: no write can replace it
            QVERIFY(QDir(folder.path()).mkdir(QStringLiteral("tagpump.ini")));
        endBy(driver, signal);

        const QByteArray errors = driver.readAllStandardError();
        if (settingsWritable)
            QVERIFY2(fileBytes(ini).contains("\r\nSensorCircleInterval=4321\r\n"), errors.constData());
        else
            QVERIFY2(errors.contains("tagpump.ini"), errors.constData());  // the reason, and no box waited
        QCOMPARE(QFile::exists(autostart), settingsWritable);
        QVERIFY(logOf(folder.path()).contains(platform::toCp1251(QStringLiteral("\tTagpump\tОбмен прекращен\r"))));
        QVERIFY(!QFile::exists(platform::ddeSocketPath(QStringLiteral("tagpump"))));
    }

    // A load warning shows its box without holding the automatic start, and an end by signal
    // meanwhile ends the driver in order.
    void driverWithLoadWarning()
    {
        sim::LineSim line;
        QTemporaryDir folder;
        const QString ini = folder.filePath(QStringLiteral("tagpump.ini"));
        writeDriverSettings(ini, line, QStringLiteral("TopicName=to\x01pic\r\n"));
        QProcess driver;
        start(driver, QStringLiteral(TAGPUMP_PATH), folder.path());
        QVERIFY(line.waitForLog(1, std::chrono::seconds(20)));  // polling with the box up
        QVERIFY(QFile::remove(ini));
        endBy(driver, SIGTERM);
        QVERIFY(fileBytes(ini).contains("\r\nSensorCircleInterval=4321\r\n"));
        const QByteArray log = logOf(folder.path());
        QVERIFY(log.contains(platform::toCp1251(QStringLiteral("\tTagpump\tDDE раздел \"to?pic\""))));
        QVERIFY(log.contains(platform::toCp1251(QStringLiteral("\tTagpump\tОбмен прекращен\r"))));
    }

    void ignoredAtStart_data()
    {
        QTest::addColumn<bool>("driver");
        QTest::newRow("tagpump") << true;
        QTest::newRow("vks74xx") << false;
    }
    // A signal ignored when the program started (nohup, a script's background job) stays
    // ignored; the others still end it in order.
    void ignoredAtStart()
    {
        QFETCH(bool, driver);
        QTemporaryDir folder;
        const QString program = driver ? QStringLiteral(TAGPUMP_PATH) : copySetupProgram(folder);
        QProcess process;
        process.setChildProcessModifier([] {
            ::signal(SIGHUP, SIG_IGN);
            ::signal(SIGINT, SIG_IGN);
        });
        start(process, program, folder.path());
        QVERIFY(signalIn(process.processId(), "SigIgn:", SIGHUP));
        QVERIFY(signalIn(process.processId(), "SigIgn:", SIGINT));
        QVERIFY(!signalIn(process.processId(), "SigCgt:", SIGHUP));
        endBy(process, SIGTERM);
    }

    // The X server goes during a run: Qt ends the program, which first stops the run, logs its
    // end and writes its settings, and does not crash.
    void driverLosesDisplay()
    {
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            QSKIP("no Xvfb");
        QProcess server;
        server.start(xvfb, {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                            QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                            QStringLiteral("640x480x24")});
        QVERIFY(server.waitForStarted(10000));
        QTRY_VERIFY_WITH_TIMEOUT(server.canReadLine(), 20000);
        const QString display = u':' + QString::fromLatin1(server.readLine().trimmed());

        sim::LineSim line;
        QTemporaryDir folder;
        const QString ini = folder.filePath(QStringLiteral("tagpump.ini"));
        writeDriverSettings(ini, line);
        QProcessEnvironment env = environment;
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        env.insert(QStringLiteral("DISPLAY"), display);
        QProcess driver;
        start(driver, QStringLiteral(TAGPUMP_PATH), folder.path(), env);
        QVERIFY(line.waitForLog(2, std::chrono::seconds(30)));  // polling in the second cycle: started up
        QVERIFY(QFile::remove(ini));
        server.kill();
        QVERIFY(server.waitForFinished(10000));
        QVERIFY(driver.waitForFinished(20000));
        const QByteArray errors = driver.readAllStandardError();
        QVERIFY2(driver.exitStatus() == QProcess::NormalExit, errors.constData());
        QVERIFY2(fileBytes(ini).contains("\r\nSensorCircleInterval=4321\r\n"), errors.constData());
        QVERIFY(logOf(folder.path()).contains(platform::toCp1251(QStringLiteral("\tTagpump\tОбмен прекращен\r"))));
    }

    void setupProgram_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("folderHeld");
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
        QTest::newRow("SIGINT") << int(SIGINT) << false;
        QTest::newRow("SIGHUP") << int(SIGHUP) << false;
        QTest::newRow("SIGTERM, folder held") << int(SIGTERM) << true;
    }
    // The setup program with nothing to save but its settings: they are written beside it. With
    // the folder held by another program they are not, standard error says why, and the end
    // waits for the folder once (5 s), not once more at the window's teardown.
    void setupProgram()
    {
        QFETCH(int, signal);
        QFETCH(bool, folderHeld);
        QTemporaryDir folder;
        const QString program = copySetupProgram(folder);
        const int held = ::open(QFile::encodeName(folder.path()).constData(), O_RDONLY | O_DIRECTORY);
        QVERIFY(held >= 0);
        auto release = qScopeGuard([held] { ::close(held); });
        QProcess setup;
        start(setup, program, folder.path());
        QVERIFY(!QFile::exists(program + QStringLiteral(".ini")));
        if (folderHeld)
            QCOMPARE(::flock(held, LOCK_EX), 0);
        QElapsedTimer ending;
        ending.start();
        endBy(setup, signal);
        const QByteArray errors = setup.readAllStandardError();
        QCOMPARE(QFile::exists(program + QStringLiteral(".ini")), !folderHeld);
        QCOMPARE(errors.contains("not saved"), false);
        if (folderHeld) {
            QVERIFY2(errors.contains("Unable to write") && errors.contains(QStringLiteral("Папку").toUtf8()),
                     errors.constData());
            QVERIFY2(ending.elapsed() < 9500, qPrintable(QString::number(ending.elapsed())));
        }
    }
};

QTEST_GUILESS_MAIN(TestEndSignals)
#include "tst_end_signals.moc"
