// The driver's main window at the edges of a run and of its settings: the settings window while
// a run is starting, a port setting that comport refuses, "&Ok" that writes the settings file at
// once, and the end asked for from outside (as on SIGTERM) during a run and under an open
// settings window.
#include "main_u.h"
#include "prgcontrol.h"
#include "sim/line_sim.h"
#include "tests/dde/dde_test_support.h"
#include "tests/support/driver_main_fixture.h"
#include "tests/support/message_boxes.h"

#include "extlibs/comport/comport.h"
#include "platform/codepage.h"
#include "platform/messages.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestDriverRunEdges : public QObject, DriverMainFixture {
    Q_OBJECT

    int number = 0;

    QPushButton *button(const char *name) const { return main->findChild<QPushButton *>(QLatin1String(name)); }
    QString readout() const { return main->findChild<QLabel *>(QStringLiteral("ST2"))->text(); }
    static QWidget *setupWindow()
    {
        for (QWidget *window : QApplication::topLevelWidgets())
            if (window->objectName() == QLatin1String("TSetup") && window->isVisible())
                return window;
        return nullptr;
    }
    QByteArray logBytes() const
    {
        QByteArray bytes;
        const QDir logs(folder->filePath(QStringLiteral("Logs")));
        for (const QString &name : logs.entryList(QDir::Files)) {
            QFile file(logs.filePath(name));
            if (file.open(QIODevice::ReadOnly))
                bytes += file.readAll();
        }
        return bytes;
    }

    // Two sensors on the simulated line, with the port keys given; the log on.
    void writeSettings(const QString &port, const QString &baud, bool autoRun, int interval = 0)
    {
        QVERIFY(writeIni(QStringLiteral("[Common Adjusts]\r\nAutoRunExchange=%1\r\nSensorTimeInterval=%4\r\n"
                                        "SensorCircleInterval=%4\r\nLogging=1\r\n[COM-port]\r\nCOMN=%2\r\nBaudR=%3\r\n"
                                        "[Sensors]\r\nSensor1=|1|2|1|500|\r\nSensor2=|1|3|1|500|\r\n")
                             .arg(autoRun ? 1 : 0)
                             .arg(port, baud)
                             .arg(interval)));
    }
    void startDriver(const QStringList &arguments)
    {
        main = std::make_unique<TMain>();
        answerMessageBoxes(main.get(), &messages);  // before the start-up: its warnings come there
        QCOMPARE(main->InitializeDriver(arguments, QStringLiteral("drvedge%1").arg(++number)),
                 TMain::StartResult::Started);
    }

    // The driver started with "/s", its settings window open with the cycle interval edited.
    void editCycleInSettingsWindow(QWidget **window)
    {
        writeSettings(linePort(), QStringLiteral("19200"), false);
        startDriver({QStringLiteral("/s")});
        QTest::mouseClick(button("Button2"), Qt::LeftButton);
        *window = setupWindow();
        QVERIFY(*window);
        (*window)->findChild<QSpinBox *>(QStringLiteral("SE3"))->setValue(4321);
    }

private slots:
    void initTestCase() { QVERIFY(useOwnRuntimeDir()); }
    void init() { QVERIFY(setUp()); }
    void cleanup() { tearDown(); }

    // From the click that starts a run until the run has ended, the settings window cannot be
    // opened: not by "&Setup", which goes grey at once, nor by a call that comes before the
    // polling thread has said that it polls; and the sensor list cannot be freed.
    void settingsWindowStaysShutDuringARun()
    {
        writeSettings(linePort(), QStringLiteral("19200"), false);
        startDriver({QStringLiteral("/s")});
        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        QVERIFY(!button("Button2")->isEnabled());
        OpenSetupWindow();
        QVERIFY(!setupWindow());
        QVERIFY(!PrgControl->FreeSensors());
        QCOMPARE(PrgControl->SensorCount(), 2);

        QTRY_VERIFY(!readout().isEmpty());  // polls go on
        OpenSetupWindow();
        QVERIFY(!setupWindow());
        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        QTRY_COMPARE(button("Button1")->text(), QStringLiteral("&Action"));
        QVERIFY(button("Button2")->isEnabled());
        QTest::mouseClick(button("Button2"), Qt::LeftButton);
        QVERIFY(setupWindow());
        QCOMPARE(PrgControl->GetState(), std::uint8_t(dsSettings));
    }

    void refusedPortSetting_data()
    {
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QString>("named");
        QTest::newRow("38400 is taken") << "line" << "38400" << "";
        QTest::newRow("57600 is taken") << "line" << "57600" << "";
        QTest::newRow("negative rate") << "line" << "-1" << "BaudR=-1";
        QTest::newRow("rate not offered") << "line" << "14400" << "BaudR=14400";
        QTest::newRow("rate past 16 bits") << "line" << "115200" << "BaudR=115200";
        QTest::newRow("past 16 bits, 9600 below") << "line" << "75136" << "BaudR=75136";
        QTest::newRow("empty port") << "" << "9600" << "COMN";
        QTest::newRow("bad port, rate offered") << "a/b" << "9600" << "COMN=\"a/b\"";
    }
    // A port setting that comport refuses polls no other port: every poll fails, and the driver
    // says once, in a box and the log, which key was refused and the value as written, and once
    // in the log and on the status line why the port cannot be used. The file keeps the value
    // as written. The rates up to 57600 are taken.
    void refusedPortSetting()
    {
        QFETCH(QString, port);
        QFETCH(QString, baud);
        QFETCH(QString, named);
        writeSettings(port == QLatin1String("line") ? linePort() : port, baud, true, 20);
        startDriver({});
        QCOMPARE(button("Button1")->text(), QStringLiteral("&Stop"));
        if (named.isEmpty()) {
            QTRY_VERIFY(!line->log().empty());
            QTRY_VERIFY(!readout().isEmpty() && readout() != QLatin1String("ExErr"));
            QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'\n')));
            return;
        }
        QTRY_COMPARE(readout(), QStringLiteral("ExErr"));
        QTRY_COMPARE(messages.size(), 1);  // the box does not hold the start
        QVERIFY2(messages[0].contains(named), qPrintable(messages[0]));
        QTRY_VERIFY(logBytes().count("COM Port Exchange Error") >= 2);
        const QByteArray log = logBytes();
        QCOMPARE(log.count(named.toLatin1()), 1);
        // A warning of several lines is as many lines of the log.
        for (const QString &text : messages[0].split(u'\n'))
            QVERIFY2(log.contains(platform::toCp1251(QStringLiteral("\tTagpump\t") + text + u'\r')), qPrintable(text));
        const QString unusable = QStringLiteral("не может быть использован: настройка порта не принята");
        QCOMPARE(log.count(platform::toCp1251(unusable)), 1);
        // The status line follows the log through the window's queue.
        QTRY_VERIFY(main->findChild<QStatusBar *>(QStringLiteral("SB1"))->toolTip().contains(unusable));
        QCOMPARE(main->findChild<QStatusBar *>(QStringLiteral("SB1"))->currentMessage(), QStringLiteral("Настройка порта не принята (имя порта или скорость)"));
        QVERIFY(line->log().empty());
        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        QTRY_COMPARE(button("Button1")->text(), QStringLiteral("&Action"));
        QCOMPARE(messages.size(), 1);
        QVERIFY(PrgControl->SaveSettings());
        QFile ini(iniPath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(ini.readAll().contains("\r\nBaudR=" + baud.toLatin1() + "\r\n"));
    }

    // A port that another program holds: the reason is said once in the log and on the status
    // line, however many polls fail, and its end once when the port is free again.
    void busyPortIsSaidOnceAndAgainWhenFree()
    {
        const QByteArray port = linePort().toLatin1();
        const std::uint32_t holder = CreateCOM(0);
        QVERIFY(SetCOMCfg(holder, port.constData(), 19200, 100, 10, 1000) && OpenCOM(holder));
        writeSettings(linePort(), QStringLiteral("19200"), true, 20);
        startDriver({});
        const QStatusBar *status = main->findChild<QStatusBar *>(QStringLiteral("SB1"));
        const QByteArray busy = platform::toCp1251(QStringLiteral("Порт %1 не может быть использован: порт занят другой программой").arg(linePort()));
        QTRY_VERIFY(logBytes().count("COM Port Exchange Error") >= 3);
        QCOMPARE(logBytes().count(busy), 1);
        QTRY_COMPARE(status->currentMessage(), QStringLiteral("Порт занят другой программой"));
        QCOMPARE(platform::toCp1251(status->toolTip()), busy);

        QVERIFY(CloseCOM(holder));
        QTRY_VERIFY(!line->log().empty());
        const QByteArray free = platform::toCp1251(QStringLiteral("Порт %1 снова доступен").arg(linePort()));
        QTRY_COMPARE(logBytes().count(free), 1);
        QTRY_VERIFY(status->currentMessage().isEmpty());
        const auto polled = line->log().size();
        QTRY_VERIFY(line->log().size() >= polled + 3);
        QCOMPARE(logBytes().count(busy), 1);
        QCOMPARE(logBytes().count(free), 1);
    }

    // "&Ok" writes what it applied at once: a program that then dies keeps it.
    void okWritesTheSettingsFileAtOnce()
    {
        QWidget *window = nullptr;
        editCycleInSettingsWindow(&window);
        QVERIFY(window);
        QTest::mouseClick(window->findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QVERIFY(!setupWindow());
        QFile ini(iniPath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(ini.readAll().contains("\r\nSensorCircleInterval=4321\r\n"));
    }

    // The end from outside during a run: the run stops, the log gets its line, the settings
    // are written and the program finishes, with no box asked.
    void endFromOutsideDuringARun()
    {
        writeSettings(linePort(), QStringLiteral("19200"), false, 20);
        startDriver({});
        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        QTRY_VERIFY(!readout().isEmpty());
        QFile::remove(iniPath());
        QSignalSpy finished(main.get(), &TMain::Finished);
        main->EndUnattended();
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(QFile::exists(iniPath()));
        QVERIFY(logBytes().contains(platform::toCp1251(QStringLiteral("\tTagpump\tОбмен прекращен\r"))));
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'\n')));
    }

    // Under an open settings window with edits not applied: the window closes without its
    // question, the edits are dropped, and the settings as applied are written.
    void endFromOutsideUnderTheSettingsWindow()
    {
        QWidget *window = nullptr;
        editCycleInSettingsWindow(&window);
        QVERIFY(window);
        QFile::remove(iniPath());
        QSignalSpy finished(main.get(), &TMain::Finished);
        main->EndUnattended();
        QTRY_COMPARE(finished.size(), 1);
        QVERIFY(!setupWindow());
        QVERIFY2(messages.isEmpty(), qPrintable(messages.join(u'\n')));
        QFile ini(iniPath());
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(ini.readAll().contains("\r\nSensorCircleInterval=0\r\n"));
    }
};

QTEST_MAIN(TestDriverRunEdges)
#include "tst_driver_run_edges.moc"
