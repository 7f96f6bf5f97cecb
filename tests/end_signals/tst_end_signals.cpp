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
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>

namespace {

// True once the process catches SIGTERM: its handler is in place.
bool catchesEndSignals(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return false;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    }
    return false;
}

} // namespace

class TestEndSignals : public QObject {
    Q_OBJECT

    QTemporaryDir home;
    QProcessEnvironment environment;

    void start(QProcess &process, const QString &program, const QString &folder)
    {
        process.setProcessEnvironment(environment);
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

    void driver_data()
    {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
        QTest::newRow("SIGHUP") << int(SIGHUP);
    }
    // The driver during a run: the run stops, the log gets its line, the settings file and the
    // autostart entry are written, and the DDE service goes.
    void driver()
    {
        QFETCH(int, signal);
        sim::LineSim line;
        QTemporaryDir folder;
        const QString ini = folder.filePath(QStringLiteral("tagpump.ini"));
        QFile settings(ini);
        QVERIFY(settings.open(QIODevice::WriteOnly));
        settings.write(QStringLiteral("[Common Adjusts]\r\nAutoRunExchange=1\r\nAutoRunProgram=1\r\nLogging=1\r\n"
                                      "SensorTimeInterval=20\r\nSensorCircleInterval=4321\r\n[COM-port]\r\nCOMN=%1\r\n"
                                      "BaudR=19200\r\n[Sensors]\r\nSensor1=|1|1|1|500|\r\n")
                           .arg(QString::fromStdString(line.portPath()))
                           .toLocal8Bit());
        settings.close();
        const QString autostart = home.filePath(QStringLiteral("config/autostart/tagpump.desktop"));
        QFile::remove(autostart);

        QProcess driver;
        start(driver, QStringLiteral(TAGPUMP_PATH), folder.path());
        QVERIFY(line.waitForLog(1, std::chrono::seconds(20)));  // polling
        QVERIFY(QFile::exists(platform::ddeSocketPath(QStringLiteral("tagpump"))));
        QVERIFY(QFile::remove(ini));
        endBy(driver, signal);

        QVERIFY2(fileBytes(ini).contains("\r\nSensorCircleInterval=4321\r\n"), driver.readAllStandardError().constData());
        QVERIFY(QFile::exists(autostart));
        QByteArray log;
        for (const QString &name : QDir(folder.filePath(QStringLiteral("Logs"))).entryList(QDir::Files))
            log += fileBytes(folder.filePath(QStringLiteral("Logs/") + name));
        QVERIFY(log.contains(platform::toCp1251(QStringLiteral("\tTagpump\tОбмен прекращен\r"))));
        QVERIFY(!QFile::exists(platform::ddeSocketPath(QStringLiteral("tagpump"))));
    }

    void setupProgram_data() { driver_data(); }
    // The setup program with nothing to save but its settings: they are written beside it.
    void setupProgram()
    {
        QFETCH(int, signal);
        QTemporaryDir folder;
        const QString program = folder.filePath(QStringLiteral("vks74xx"));
        QVERIFY(QFile::copy(QStringLiteral(VKS74XX_PATH), program));
        // Its libraries are found beside it.
        const QDir built = QFileInfo(QStringLiteral(VKS74XX_PATH)).dir();
        for (const QString &library : built.entryList({QStringLiteral("lib*.so")}, QDir::Files))
            QVERIFY(QFile::copy(built.filePath(library), folder.filePath(library)));
        QProcess setup;
        start(setup, program, folder.path());
        QVERIFY(!QFile::exists(program + QStringLiteral(".ini")));
        endBy(setup, signal);
        QVERIFY(QFile::exists(program + QStringLiteral(".ini")));
        QCOMPARE(setup.readAllStandardError().contains("not saved"), false);
    }
};

QTEST_GUILESS_MAIN(TestEndSignals)
#include "tst_end_signals.moc"
