// Remote start and stop of the driver by a controlling application: an in-process DDE server
// plays it for the commands, the held start under the settings window and the link after Apply;
// `ddeclient serve`, started by the driver itself, plays it across processes; a program that
// cannot be started brings the warning once and the driver polls on without the link.
#include "main_u.h"
#include "prgcontrol.h"
#include "sim/line_sim.h"
#include "tests/dde/dde_test_support.h"
#include "tests/support/driver_main_fixture.h"
#include "tests/support/message_boxes.h"

#include "platform/dde_client.h"
#include "platform/dde_server.h"
#include "platform/messages.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>

class TestDriverManagement : public QObject, DriverMainFixture {
    Q_OBJECT

    std::unique_ptr<platform::DdeServer> controller;  // the controlling application
    platform::DdeItem *command = nullptr;             // its watched item
    int number = 0;  // a service name of its own for every test

    QString controllerService() const { return QStringLiteral("ctlapp%1").arg(number); }
    QString servicePath() const { return folder->filePath(controllerService() + QStringLiteral(".exe")); }
    QPushButton *button(const char *name) const { return main->findChild<QPushButton *>(QLatin1String(name)); }
    QString caption() const { return button("Button1")->text(); }
    QString statePanel() const { return main->findChild<QLabel *>(QStringLiteral("SB1Panel1"))->text(); }

    // Settings of two sensors on the simulated line; remote management as given.
    void writeSettings(bool useManagement, const QString &service, bool autoRunExchange = false)
    {
        QVERIFY(writeIni(QStringLiteral("[Common Adjusts]\r\nAutoRunExchange=%1\r\nSensorTimeInterval=20\r\n"
                                        "SensorCircleInterval=40\r\nUseDdeManagement=%2\r\nDdeService=%3\r\n"
                                        "DdeTopic=Control\r\nDdeItem=RunFlag\r\n[COM-port]\r\nCOMN=%4\r\n"
                                        "BaudR=19200\r\n[Sensors]\r\nSensor1=|1|2|1|500|\r\nSensor2=|1|5|1|500|\r\n")
                             .arg(autoRunExchange ? 1 : 0)
                             .arg(useManagement ? 1 : 0)
                             .arg(service, linePort())));
    }
    void serveController(const QString &initial)
    {
        controller = std::make_unique<platform::DdeServer>();
        platform::DdeTopic *topic = controller->createTopic(QStringLiteral("CONTROL"));  // case does not count
        command = topic->createItem(QStringLiteral("RUNFLAG"), initial);
        QVERIFY(controller->listen(controllerService()));
    }
    void startDriver(const QStringList &arguments)
    {
        main = std::make_unique<TMain>();
        answerMessageBoxes(main.get(), &messages);
        QCOMPARE(main->InitializeDriver(arguments, QStringLiteral("drvmgmt%1").arg(number)),
                 TMain::StartResult::Started);
    }
    // Sets the watched item and waits until the driver has handled the change.
    void send(const QString &text)
    {
        QSignalSpy heard(PrgControl->ManageConv, &platform::DdeClient::itemChanged);
        QVERIFY(command->setText(text));
        QTRY_VERIFY(!heard.isEmpty() && heard.last()[1].toString() == text);
    }
    void expectIdle()
    {
        QTRY_COMPARE(caption(), QStringLiteral("&Action"));
        QTRY_COMPARE(statePanel(), QStringLiteral("Stay State"));
    }
    void expectPolling()
    {
        QCOMPARE(caption(), QStringLiteral("&Stop"));
        QTRY_COMPARE(statePanel(), QStringLiteral("Work State"));
    }
    QWidget *openSetupWindow()
    {
        QTest::mouseClick(button("Button2"), Qt::LeftButton);
        for (QWidget *window : QApplication::topLevelWidgets())
            if (window->objectName() == QLatin1String("TSetup") && window->isVisible())
                return window;
        return nullptr;
    }

private slots:
    void initTestCase() { QVERIFY(useOwnRuntimeDir()); }
    void init()
    {
        ++number;
        QVERIFY(setUp());
    }
    void cleanup()
    {
        main.reset();
        controller.reset();
        tearDown();
    }

    // The commands as they come: only the first character counts, and only when the button's
    // caption lets it act. The text the item holds when the link is taken is no command.
    void startAndStop()
    {
        serveController(QStringLiteral("1"));
        writeSettings(true, servicePath());
        startDriver({QStringLiteral("/s")});
        QVERIFY(messages.isEmpty());
        QVERIFY(PrgControl->Connected);
        QCoreApplication::sendPostedEvents();  // what the link brought at once
        QCOMPARE(caption(), QStringLiteral("&Action"));

        send(QStringLiteral("0"));   // "0" while idle
        QCOMPARE(caption(), QStringLiteral("&Action"));
        send(QStringLiteral("1"));
        expectPolling();
        TCOMExchange *run = main->CurrentExchange();
        send(QStringLiteral("1"));   // "1" while polling: the same run goes on
        QCOMPARE(caption(), QStringLiteral("&Stop"));
        QCOMPARE(main->CurrentExchange(), run);
        for (const char *nothing : {"", "2", " 1", "x0", "S"}) {
            send(QString::fromLatin1(nothing));
            QCOMPARE(caption(), QStringLiteral("&Stop"));
        }
        send(QStringLiteral("05"));
        expectIdle();
        send(QStringLiteral("10"));
        expectPolling();
        send(QStringLiteral("0"));
        expectIdle();
        QVERIFY(messages.isEmpty());
    }

    void startHeldUnderTheSettingsWindow_data()
    {
        QTest::addColumn<QString>("afterStart");  // a second command while the window is open
        QTest::addColumn<bool>("apply");          // closed with "&Ok" rather than "&Cancel"
        QTest::addColumn<bool>("polls");          // polling once the window has closed
        QTest::newRow("cancel") << QString() << false << true;
        QTest::newRow("ok, same link") << QString() << true << true;
        QTest::newRow("1 again") << QStringLiteral("1") << false << true;
        QTest::newRow("0 drops it") << QStringLiteral("0") << false << false;
        QTest::newRow("other text keeps it") << QStringLiteral("7") << true << true;
    }
    // A start while the settings window is open waits for the window to close.
    void startHeldUnderTheSettingsWindow()
    {
        QFETCH(QString, afterStart);
        QFETCH(bool, apply);
        QFETCH(bool, polls);
        serveController(QStringLiteral("0"));
        writeSettings(true, servicePath());
        startDriver({QStringLiteral("/s")});
        QWidget *setup = openSetupWindow();
        QVERIFY(setup);
        QCOMPARE(PrgControl->GetState(), std::uint8_t(dsSettings));

        send(QStringLiteral("1"));
        if (!afterStart.isNull())
            send(afterStart);
        QCOMPARE(caption(), QStringLiteral("&Action"));
        QCOMPARE(PrgControl->GetState(), std::uint8_t(dsSettings));
        QVERIFY(!main->CurrentExchange());

        QTest::mouseClick(setup->findChild<QPushButton *>(apply ? QStringLiteral("Button1")
                                                                : QStringLiteral("Button2")),
                          Qt::LeftButton);
        QTRY_VERIFY(!setup->isVisible());
        if (polls) {
            QTRY_COMPARE(caption(), QStringLiteral("&Stop"));
            QTRY_COMPARE(statePanel(), QStringLiteral("Work State"));
        } else {
            QCoreApplication::sendPostedEvents();  // the end of the settings state, handled
            QCOMPARE(caption(), QStringLiteral("&Action"));
            QCOMPARE(statePanel(), QStringLiteral("Stay State"));
        }
        QVERIFY(messages.isEmpty());
    }

    void startHeldWhileARunStops_data()
    {
        QTest::addColumn<QString>("then");  // what comes after the held start
        QTest::newRow("0 then 1 restarts") << QString();
        QTest::newRow("0, 1, 0 stays stopped") << QStringLiteral("0");
        QTest::newRow("0, 1, the end by signal starts nothing") << QStringLiteral("end");
    }
    // A "1" while the run is stopping ("&Wait") starts the next run once this one has ended,
    // unless a "0" or the end of the program comes before that end.
    void startHeldWhileARunStops()
    {
        QFETCH(QString, then);
        serveController(QStringLiteral("0"));
        writeSettings(true, servicePath());
        startDriver({QStringLiteral("/s")});
        line->injectFault(sim::LineFault::Silence, -1);
        PrgControl->TimeOut3 = 30000;  // the poll under way holds the stop until the line goes
        send(QStringLiteral("1"));
        expectPolling();
        QVERIFY(line->waitForLog(1, std::chrono::seconds(10)));

        send(QStringLiteral("0"));
        QCOMPARE(caption(), QStringLiteral("&Wait"));
        send(QStringLiteral("1"));
        QSignalSpy finished(main.get(), &TMain::Finished);
        if (then == QLatin1String("0"))
            send(QStringLiteral("0"));
        else if (then == QLatin1String("end"))
            main->EndUnattended();
        QCOMPARE(caption(), QStringLiteral("&Wait"));
        line.reset();  // the poll under way fails at once, and the run ends
        if (then == QLatin1String("end")) {
            QTRY_COMPARE(finished.size(), 1);
            QCoreApplication::sendPostedEvents();  // the end of the run, handled
            QVERIFY(!main->CurrentExchange());
            QCOMPARE(caption(), QStringLiteral("&Action"));
        } else if (!then.isNull()) {
            expectIdle();
            QCoreApplication::sendPostedEvents();  // the end of the run, handled
            QCOMPARE(caption(), QStringLiteral("&Action"));
            QVERIFY(!main->CurrentExchange());
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(main->CurrentExchange() && caption() == QLatin1String("&Stop"), 10000);
            QTRY_COMPARE(statePanel(), QStringLiteral("Work State"));
        }
        QVERIFY(messages.isEmpty());
    }

    // Apply that points the link elsewhere drops a held start.
    void heldStartDroppedWhenTheLinkMoves()
    {
        serveController(QStringLiteral("0"));
        platform::DdeServer other;
        other.createTopic(QStringLiteral("Control"))->createItem(QStringLiteral("Other"), QStringLiteral("1"));
        QVERIFY(other.listen(controllerService() + QStringLiteral("b")));
        writeSettings(true, servicePath());
        startDriver({QStringLiteral("/s")});
        QWidget *setup = openSetupWindow();
        QVERIFY(setup);
        send(QStringLiteral("1"));
        setup->findChild<QLineEdit *>(QStringLiteral("Edit3"))->setText(folder->filePath(controllerService() + "b"));
        setup->findChild<QLineEdit *>(QStringLiteral("Edit5"))->setText(QStringLiteral("Other"));
        QTest::mouseClick(setup->findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QTRY_VERIFY(!setup->isVisible());
        QVERIFY(PrgControl->Connected);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(caption(), QStringLiteral("&Action"));
    }

    // The link is made again by every Apply: turned on in the window, after the controlling
    // application went away and came back.
    void linkComesBackAfterApply()
    {
        writeSettings(false, servicePath());
        startDriver({QStringLiteral("/s")});
        QVERIFY(!PrgControl->Connected);
        serveController(QStringLiteral("0"));

        QWidget *setup = openSetupWindow();
        QVERIFY(setup);
        setup->findChild<QCheckBox *>(QStringLiteral("ChB7"))->setChecked(true);
        QTest::mouseClick(setup->findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QTRY_VERIFY(!setup->isVisible());
        QVERIFY(PrgControl->Connected);
        send(QStringLiteral("1"));
        expectPolling();
        send(QStringLiteral("0"));
        expectIdle();

        // The controlling application ends: the link is down and stays down when it returns.
        QSignalSpy ended(PrgControl->ManageConv, &platform::DdeClient::disconnected);
        controller.reset();
        QTRY_COMPARE(ended.size(), 1);
        QVERIFY(!PrgControl->Connected);
        serveController(QStringLiteral("0"));
        QVERIFY(command->setText(QStringLiteral("1")));  // no link: nobody hears it
        QCOMPARE(caption(), QStringLiteral("&Action"));

        setup = openSetupWindow();
        QTest::mouseClick(setup->findChild<QPushButton *>(QStringLiteral("Button1")), Qt::LeftButton);
        QTRY_VERIFY(!setup->isVisible());
        QVERIFY(PrgControl->Connected);
        QCoreApplication::sendPostedEvents();
        QCOMPARE(caption(), QStringLiteral("&Action"));  // the "1" it found is no command
        send(QStringLiteral("1"));
        expectPolling();
        QVERIFY(messages.isEmpty());
    }

    // A controlling application that cannot be started: the warning once at start-up, polling
    // started by the automatic start goes on without remote management; each Apply tries again.
    void controllerThatCannotBeStarted()
    {
        line->setValue(1, 5, "-7.25");
        writeSettings(true, folder->filePath(QStringLiteral("missing.exe")), true);
        startDriver({});
        QCOMPARE(messages, QStringList{"Невозможно установить DDE соединение с управляющим приложением!\n"
                                       "Удаленное управление программой недоступно."});
        QVERIFY(!PrgControl->Connected);
        QCOMPARE(caption(), QStringLiteral("&Stop"));
        QTRY_COMPARE(main->findChild<QLabel *>(QStringLiteral("ST2"))->text(), QStringLiteral("-7.25"));
        QCoreApplication::sendPostedEvents();
        QCOMPARE(messages.size(), 1);
        QCOMPARE(caption(), QStringLiteral("&Stop"));
    }

    // Across processes: the driver starts the controlling application (`ddeclient serve`
    // behind a program named after the service) and takes the link to it once it serves.
    void startsTheControllingApplication()
    {
        const QString program = folder->filePath(controllerService());
        const QString pidFile = folder->filePath(QStringLiteral("controller.pid"));
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write(QStringLiteral("#!/bin/sh\necho $$ > '%1'\nexec '%2/ddeclient' serve %3 Control RunFlag=0\n")
                         .arg(pidFile, QCoreApplication::applicationDirPath(), controllerService())
                         .toLocal8Bit());
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFile::ExeOwner));
        writeSettings(true, program + QStringLiteral(".exe"));
        startDriver({QStringLiteral("/s")});
        QVERIFY(QFile::exists(pidFile));
        QFile pidText(pidFile);
        QVERIFY(pidText.open(QIODevice::ReadOnly));
        const pid_t pid = pid_t(pidText.readAll().trimmed().toInt());
        QVERIFY(pid > 0);
        auto stopController = qScopeGuard([pid] { ::kill(pid, SIGTERM); });
        QVERIFY(messages.isEmpty());
        QVERIFY(PrgControl->Connected);

        platform::DdeClient user;
        QVERIFY(user.connectTo(controllerService(), QStringLiteral("Control")));
        QVERIFY(user.poke(QStringLiteral("RunFlag"), QStringLiteral("1")));
        QTRY_COMPARE(caption(), QStringLiteral("&Stop"));
        QVERIFY(user.poke(QStringLiteral("RunFlag"), QStringLiteral("0")));
        expectIdle();
    }
};

QTEST_MAIN(TestDriverManagement)
#include "tst_driver_management.moc"
