// The driver's main window as a user meets it: the command line, the status bar and icon hint,
// the buttons through a polling run, minimising, the closing rules, and a second copy.
#include "main_u.h"
#include "prgcontrol.h"
#include "shared_widgets/about_u.h"
#include "sim/line_sim.h"
#include "tests/dde/dde_test_support.h"
#include "tests/support/driver_main_fixture.h"
#include "tests/support/message_boxes.h"

#include "platform/dde_server.h"
#include "platform/messages.h"

#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestDriverWindow : public QObject, DriverMainFixture {
    Q_OBJECT

    QStringList captions;  // captions of the message boxes answered
    int serviceNumber = 0;

    QPushButton *button(const char *name) { return main->findChild<QPushButton *>(QLatin1String(name)); }
    QString panel(int i) { return main->findChild<QLabel *>(QStringLiteral("SB1Panel%1").arg(i))->text(); }

    void writeSettings(bool autoRunExchange)
    {
        QVERIFY(writeIni(QStringLiteral("[Common Adjusts]\r\nAutoRunExchange=%1\r\nSensorTimeInterval=50\r\n"
                                        "SensorCircleInterval=100\r\n[COM-port]\r\nCOMN=%2\r\nBaudR=19200\r\n"
                                        "[Sensors]\r\nSensor1=|1|2|1|500|\r\nSensor2=|1|3|1|500|\r\n")
                             .arg(autoRunExchange ? 1 : 0)
                             .arg(linePort())));
    }
    TMain::StartResult startDriver(const QStringList &arguments)
    {
        main = std::make_unique<TMain>();
        return main->InitializeDriver(arguments, QStringLiteral("drvwin%1").arg(++serviceNumber));
    }
    // Answers every message box that comes up, keeping its text and caption.
    void answerMessageBoxes() { ::answerMessageBoxes(main.get(), &messages, &captions); }

private slots:
    void initTestCase() { QVERIFY(useOwnRuntimeDir()); }
    void init()
    {
        QVERIFY(setUp());
        captions.clear();
    }
    void cleanup() { tearDown(); }

    // "&About" of the icon's menu shows the driver's About box, modally, and it closes again.
    void aboutFromTheMenu()
    {
        writeSettings(false);
        QCOMPARE(startDriver({}), TMain::StartResult::Started);
        answerMessageBoxes();
        TAbout about(TAbout::DataDriver());
        main->SetAboutBox(&about);
        bool shown = false;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(QApplication::activeModalWidget() == &about);
            shown = about.windowTitle() == QStringLiteral("About Tagpump");
            about.reject();
        });
        main->TrayMenu()->findChild<QAction *>(QStringLiteral("PM1_2"))->trigger();
        QVERIFY(shown);
        QVERIFY(!about.isVisible());
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("button2");
        QTest::addColumn<QString>("button1");
        QTest::newRow("none") << QStringList{} << "&Hide" << "&Stop";
        QTest::newRow("/s") << QStringList{"/s"} << "&Setup" << "&Action";
        QTest::newRow("/S") << QStringList{"/S", "x"} << "&Setup" << "&Action";
        QTest::newRow("/setup") << QStringList{"/setup"} << "&Hide" << "&Stop";
        QTest::newRow("-s") << QStringList{"-s"} << "&Hide" << "&Stop";
        QTest::newRow("/s second") << QStringList{"x", "/s"} << "&Hide" << "&Stop";
    }
    // With automatic start on, polling starts unless "/s" or "/S" comes first.
    void commandLine()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, button2);
        QFETCH(QString, button1);
        writeSettings(true);
        QCOMPARE(startDriver(arguments), TMain::StartResult::Started);
        QCOMPARE(button("Button2")->text(), button2);
        QCOMPARE(button("Button1")->text(), button1);
        if (button1 == QLatin1String("&Stop")) {
            QTRY_COMPARE(panel(1), QStringLiteral("Work State"));
            QCOMPARE(main->TrayIcon()->toolTip(), QStringLiteral("Tagpump / Work State"));
            QTRY_COMPARE(main->findChild<QLabel *>(QStringLiteral("ST1"))->text(), QStringLiteral("2"));
        }
    }

    // Start, readings in the readouts, stop through "&Wait" back to "&Action" and idle.
    void pollingRunThroughTheButtons()
    {
        writeSettings(false);
        startDriver({QStringLiteral("/s")});
        QCOMPARE(panel(1), QStringLiteral("Stay State"));
        QCOMPARE(panel(2), QStringLiteral("Ok"));
        QCOMPARE(main->TrayIcon()->toolTip(), QStringLiteral("Tagpump / Stay State"));
        QTRY_VERIFY(panel(0) != QLatin1String("Time"));  // the clock runs

        line->setValue(1, 3, "42.125");
        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        QCOMPARE(button("Button1")->text(), QStringLiteral("&Stop"));
        QTRY_COMPARE(main->findChild<QLabel *>(QStringLiteral("ST2"))->text(), QStringLiteral("42.125"));
        QVERIFY(!button("Button2")->isEnabled());  // "&Setup" is not offered during a run
        if (const QByteArray grabs = qgetenv("DRIVER_GRAB_DIR"); !grabs.isEmpty()) {
            main->show();
            QVERIFY(QTest::qWaitForWindowExposed(main.get()));
            main->grab().save(QString::fromLocal8Bit(grabs) + QStringLiteral("/tagpump-%1.png")
                                                                  .arg(QGuiApplication::platformName()));
        }
        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        QVERIFY(button("Button1")->text() == QLatin1String("&Wait")
                || button("Button1")->text() == QLatin1String("&Action"));
        QTRY_COMPARE(button("Button1")->text(), QStringLiteral("&Action"));
        QCOMPARE(panel(1), QStringLiteral("Stay State"));
        QVERIFY(button("Button2")->isEnabled());
    }

    void closingRules()
    {
        writeSettings(false);
        startDriver({QStringLiteral("/s")});
        main->show();
        answerMessageBoxes();
        PrgControl->SetState(dsSettings);
        QVERIFY(!main->close());
        QCOMPARE(messages, QStringList{"Невозможно завершить работу.\nПрограмма находится в режиме настройки."});
        QVERIFY(main->isVisible());
        PrgControl->SetState(dsIdle);

        QTest::mouseClick(button("Button1"), Qt::LeftButton);
        QTRY_COMPARE(panel(1), QStringLiteral("Work State"));
        QVERIFY(!main->close());
        QCOMPARE(messages.last(), QStringLiteral("Невозможно завершить работу.\nИдет обмен...."));
        QCOMPARE(captions, (QStringList{"Warning", "Warning"}));
        QVERIFY(main->isVisible());
        QVERIFY(!QFile::exists(folder->filePath(QStringLiteral("tagpump.ini.new"))));

        // With automatic start on, the window goes at once and the program ends after the run.
        PrgControl->AutoRunExchange = true;
        QSignalSpy finished(main.get(), &TMain::Finished);
        main->findChild<QMenu *>(QStringLiteral("PM1"))->findChild<QAction *>(QStringLiteral("PM1_4"))->trigger();
        QVERIFY(!main->isVisible());
        QTRY_COMPARE(finished.size(), 1);
        QCOMPARE(PrgControl->GetState(), std::uint8_t(dsIdle));
        QFile ini(folder->filePath(QStringLiteral("tagpump.ini")));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QVERIFY(ini.readAll().contains("AutoRunExchange=1"));
    }

    // Without a notification area the window minimises as usual, and the icon's menu is its
    // context menu.
    void hideWithoutTray()
    {
        if (QSystemTrayIcon::isSystemTrayAvailable())
            QSKIP("a notification area is present");
        writeSettings(false);
        startDriver({});
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main.get()));
        QTest::mouseClick(button("Button2"), Qt::LeftButton);
        QTRY_VERIFY(main->isMinimized());
        QVERIFY(main->isVisible());
        QCOMPARE(main->contextMenuPolicy(), Qt::CustomContextMenu);
        QStringList items;
        for (QAction *action : main->TrayMenu()->actions())
            items << action->text();
        QCOMPARE(items, (QStringList{"&Tagpump", "&About", "&Help", "", "&Exit"}));
        main->TrayMenu()->findChild<QAction *>(QStringLiteral("PM1_1"))->trigger();
        QTRY_VERIFY(!main->isMinimized());
    }

    // A second copy finds the service taken, says so and leaves the settings file alone.
    void secondCopy()
    {
        platform::DdeServer first;
        QVERIFY(first.listen(QStringLiteral("drvwin%1").arg(serviceNumber + 1)));
        main = std::make_unique<TMain>();
        answerMessageBoxes();
        QCOMPARE(main->InitializeDriver({}, QStringLiteral("drvwin%1").arg(++serviceNumber)),
                 TMain::StartResult::AlreadyRunning);
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages[0].contains(QStringLiteral("drvwin%1").arg(serviceNumber)));
        main.reset();
        QVERIFY(!QFile::exists(folder->filePath(QStringLiteral("tagpump.ini"))));
    }
};

QTEST_MAIN(TestDriverWindow)
#include "tst_driver_window.moc"
