// The driver's settings file, settings string and autostart entry: what the controller holds
// after a start, the bytes of the file after an end, and what comport was told.
#include "tests/support/driver_folder_fixture.h"

#include "ascii_chanclass.h"
#include "settings_snapshot.h"

#include "platform/autorun.h"
#include "platform/dde_server.h"
#include "tests/support/message_boxes.h"

#include <QDirIterator>
#include <QScreen>
#include <QTest>

#include <dlfcn.h>

// Every SetCOMCfg the driver makes is counted here and passed on to the library.
namespace {
struct PortCall {
    QString port;
    int baud, t1, t2, t3;
};
QList<PortCall> portCalls;
} // namespace

extern "C" bool SetCOMCfg(uint32_t handle, const char *port, uint16_t baud, uint16_t t1, uint16_t t2, uint16_t t3)
{
    using Fn = bool (*)(uint32_t, const char *, uint16_t, uint16_t, uint16_t, uint16_t);
    static const auto real = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, "SetCOMCfg"));
    portCalls.append({QString::fromLatin1(port), baud, t1, t2, t3});
    return real(handle, port, baud, t1, t2, t3);
}

namespace {

QByteArray crlf(const char *text)
{
    return QByteArray(text).replace("\n", "\r\n");
}

// Every line of every log file in the folder.
QByteArray logLines(const QString &folder)
{
    QByteArray lines;
    QDirIterator files(folder, QDir::Files);
    while (files.hasNext())
        lines += fileBytes(files.next());
    return lines;
}

} // namespace

class TestDriverSettings : public QObject {
    Q_OBJECT

    std::unique_ptr<platform::ApplicationWindow> window;
    std::unique_ptr<QTemporaryDir> dir;
    QString folder;

    // A controller started in the working folder after putting `ini` there (none when null).
    std::unique_ptr<DriverFolderFixture> start(const QByteArray &ini = QByteArray())
    {
        if (!ini.isNull())
            putFile(folder + QStringLiteral("/tagpump.ini"), ini);
        auto driver = std::make_unique<DriverFolderFixture>(folder);
        driver->control->LoadSettings();
        return driver;
    }

private slots:
    void initTestCase() { window = std::make_unique<platform::ApplicationWindow>(); }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        folder = dir->path();
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder + QStringLiteral("/config")));
        portCalls.clear();
    }

    void noFileGivesDefaultsAndWritesEveryKey()
    {
        auto driver = start();
        TProgramControl &c = *driver->control;
        QCOMPARE(c.SensorCount(), 1);
        QCOMPARE(sensorText(c, 0), QStringLiteral("1,1,1,500"));
        QCOMPARE(c.ErrorValue, 1000.0);
        QCOMPARE(c.LogFileDIR, folder + QStringLiteral("/Logs"));
        QCOMPARE(portCalls.last().port, QStringLiteral("COM1"));

        QVERIFY(c.SaveSettings());
        const QByteArray expected = crlf("[Main]\nLeft=200\nTop=100\n[Common Adjusts]\nActivePageNumber=0\n"
                                         "TopicName=ORVANT\nObjectName=S\nSensorTimeInterval=500\n"
                                         "SensorCircleInterval=1000\nConnectionScheme=0\nAutoRunProgram=0\n"
                                         "AutoRunExchange=0\nHints=0\nErrorState=0\nErrorValue=1000\n"
                                         "IndividualTimeOutState=0\nLogging=0\nLogFileDIR=")
                                   + platform::toCp1251(folder)
                                   + crlf("/Logs\nUseDdeManagement=0\nDdeService=\nDdeTopic=\nDdeItem=\n[COM-port]\n"
                                          "COMN=COM1\nBaudR=9600\nTimeOut1=100\nTimeOut2=10\nTimeOut3=1000\n"
                                          "[Sensors]\nSensor1=|1|1|1|500|\n");
        QCOMPARE(fileBytes(driver->iniPath()), expected);
        QVERIFY(!QFile::exists(platform::autorunEntryPath(QStringLiteral("tagpump"))));
    }

    // Gaps and foreign keys in "Sensors" count only as a number of sensors; the other lines of
    // the file stay byte for byte, and keys are found whatever their letter case.
    void sensorsSectionIsRenumberedAndOtherLinesStay()
    {
        auto driver = start(crlf("; kept comment\n[extra]\nmine = 7\n[common adjusts]\nlogging = 1\n"
                                 "[Sensors]\nSensor1=|12|3|2|750|\nSensor5=|9|8|7|6|\nFoo=bar\n"));
        TProgramControl &c = *driver->control;
        QCOMPARE(c.SensorCount(), 3);
        QCOMPARE(sensorText(c, 0), QStringLiteral("12,3,2,750"));
        QCOMPARE(sensorText(c, 1), QStringLiteral("0,0,0,500"));
        QCOMPARE(sensorText(c, 2), QStringLiteral("0,0,0,500"));
        QVERIFY(c.Logging);

        c.Logging = false;
        QVERIFY(c.SaveSettings());
        const QByteArray bytes = fileBytes(driver->iniPath());
        QVERIFY(bytes.startsWith(crlf("; kept comment\n[extra]\nmine = 7\n[common adjusts]\nlogging =0\n")));
        QVERIFY(bytes.endsWith(crlf("TimeOut3=1000\n[Sensors]\nSensor1=|12|3|2|750|\nSensor2=|0|0|0|500|\n"
                                    "Sensor3=|0|0|0|500|\n")));
        QCOMPARE(bytes.count("[Sensors]"), 1);
    }

    void numbersKeepTheirLowBitsAndBadValuesFallBack_data()
    {
        QTest::addColumn<QByteArray>("errorValue");
        QTest::addColumn<double>("expected");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("comma") << QByteArray("12,5") << 12.5 << QByteArray("12.5");
        QTest::newRow("point") << QByteArray("-3.25") << -3.25 << QByteArray("-3.25");
        QTest::newRow("exponent") << QByteArray("2e3") << 2000.0 << QByteArray("2000");
        QTest::newRow("text") << QByteArray("abc") << 1000.0 << QByteArray("1000");
        QTest::newRow("empty") << QByteArray("") << 1000.0 << QByteArray("1000");
        QTest::newRow("nan") << QByteArray("nan") << 1000.0 << QByteArray("1000");
    }

    void numbersKeepTheirLowBitsAndBadValuesFallBack()
    {
        QFETCH(QByteArray, errorValue);
        QFETCH(double, expected);
        QFETCH(QByteArray, written);
        QObject answerer;
        QStringList boxes;
        answerMessageBoxes(&answerer, &boxes);
        auto driver = start(crlf("[Common Adjusts]\nActivePageNumber=258\nSensorTimeInterval=abc\n"
                                 "SensorCircleInterval=$FFFF\nHints=5\nErrorValue=")
                            + errorValue
                            + crlf("\nIndividualTimeOutState=1\nLogFileDIR=/x|y\n[COM-port]\nCOMN=/dev/a|b\n"
                                   "BaudR=66736\nTimeOut1=0x20\nTimeOut2=-1\n"));
        TProgramControl &c = *driver->control;
        QCOMPARE(int(c.ActivePageNumber), 2);
        QCOMPARE(int(c.SensorTimeInterval), 500);
        QCOMPARE(int(c.SensorCircleInterval), 65535);
        QVERIFY(c.GetHints());
        QCOMPARE(c.ErrorValue, expected);
        // Reading goes on after a bad ErrorValue.
        QVERIFY(c.IndividualTimeOutState);
        QCOMPARE(c.LogFileDIR, QStringLiteral("/x|y"));
        QCOMPARE(c.PortName, QStringLiteral("/dev/a|b"));
        // A rate past 16 bits stays as written and reaches the port as one it refuses, not as
        // its low bits (1200).
        QCOMPARE(c.BaudR, 66736);
        QCOMPARE(int(c.TimeOut1), 32);
        QCOMPARE(int(c.TimeOut2), 65535);
        QCOMPARE(int(c.TimeOut3), 1000);
        QCOMPARE(portCalls.last().baud, 0);
        QTRY_COMPARE(boxes.size(), 1);  // the box does not hold the start-up
        QVERIFY2(boxes[0].contains(QStringLiteral("BaudR=66736")), qPrintable(boxes[0]));

        QVERIFY(c.SaveSettings());
        const QByteArray bytes = fileBytes(driver->iniPath());
        QVERIFY(bytes.contains("\r\nHints=1\r\n"));
        QVERIFY(bytes.contains("\r\nErrorValue=" + written + "\r\n"));
        QVERIFY(bytes.contains("\r\nActivePageNumber=2\r\n"));
        QVERIFY(bytes.contains("\r\nBaudR=66736\r\n"));
    }

    // The string of distinct settings, parsed back after every field changed, restores each
    // field from its own place and tells comport once.
    void settingsStringRoundTrip()
    {
        auto driver = start();
        TProgramControl &c = *driver->control;
        const QString fresh = c.SettingsToString();
        QCOMPARE(fresh, QStringLiteral("|0|S|500|1000|0|0|0|0|0|1000|0|COM1|9600|100|10|1000|0|%1/Logs|0||||").arg(folder));

        c.ActivePageNumber = 2;
        c.ObjectName = QStringLiteral("Pt");
        c.SensorTimeInterval = 300;
        c.SensorCircleInterval = 4000;
        c.ConnectionScheme = true;
        c.AutoRunProgram = false;
        c.AutoRunExchange = true;
        c.SetHints(false);
        c.ErrorState = true;
        c.ErrorValue = -12.5;
        c.IndividualTimeOutState = false;
        c.PortName = QStringLiteral("COM3");
        c.BaudR = 19200;
        c.TimeOut1 = 111;
        c.TimeOut2 = 22;
        c.TimeOut3 = 3333;
        c.Logging = true;
        c.LogFileDIR = QStringLiteral("/var/log/drv");
        c.UseDdeManagement = false;
        c.DdeService = QStringLiteral("/opt/ctl/ctl");
        c.DdeTopic = QStringLiteral("Top");
        c.DdeItem = QStringLiteral("Itm");
        const QString text = c.SettingsToString();
        QCOMPARE(text, QStringLiteral("|2|Pt|300|4000|1|0|1|0|1|-12.5|0|COM3|19200|111|22|3333|1|/var/log/drv|0|/opt/ctl/ctl|Top|Itm|"));

        c.ActivePageNumber = 0, c.ObjectName = "X", c.SensorTimeInterval = 1, c.SensorCircleInterval = 2;
        c.ConnectionScheme = false, c.AutoRunProgram = true, c.AutoRunExchange = false, c.SetHints(true);
        c.ErrorState = false, c.ErrorValue = 7, c.IndividualTimeOutState = true, c.PortName = "COM9";
        c.BaudR = 1, c.TimeOut1 = 2, c.TimeOut2 = 3, c.TimeOut3 = 4, c.Logging = false, c.LogFileDIR = "/";
        c.UseDdeManagement = true, c.DdeService = "a", c.DdeTopic = "b", c.DdeItem = "c";
        portCalls.clear();
        QVERIFY(c.SettingsFromString(text));
        QCOMPARE(c.SettingsToString(), text);
        QCOMPARE(portCalls.size(), 1);
        QCOMPARE(portCalls[0].port, QStringLiteral("COM3"));
        QCOMPARE(QList<int>({portCalls[0].baud, portCalls[0].t1, portCalls[0].t2, portCalls[0].t3}),
                 QList<int>({19200, 111, 22, 3333}));
    }

    void shortOrBadStringKeepsWhatWasRead()
    {
        auto driver = start();
        TProgramControl &c = *driver->control;
        portCalls.clear();
        QVERIFY(!c.SettingsFromString(QStringLiteral("|1|Q|250|")));
        QCOMPARE(int(c.ActivePageNumber), 1);
        QCOMPARE(c.ObjectName, QStringLiteral("Q"));
        QCOMPARE(int(c.SensorTimeInterval), 250);
        QCOMPARE(int(c.SensorCircleInterval), 1000);
        QVERIFY(!c.SettingsFromString(QStringLiteral("no bar at all")));
        QCOMPARE(int(c.ActivePageNumber), 1);

        // A bad number at field 13 (BaudR): the twelve before it are set, the rest stay.
        QVERIFY(!c.SettingsFromString(QStringLiteral("|2|R|260|1100|1|1|1|1|1|3,5|1|COM7|fast|5|6|7|1|/l|1|s|t|i|")));
        QCOMPARE(c.ErrorValue, 3.5);
        QCOMPARE(c.PortName, QStringLiteral("COM7"));
        QCOMPARE(int(c.BaudR), 9600);
        QCOMPARE(int(c.TimeOut1), 100);
        QVERIFY(!c.Logging);
        QVERIFY(portCalls.isEmpty());
    }

    // Each flag comes from its own field.
    void flagsReadFromTheirOwnFields()
    {
        auto driver = start();
        TProgramControl &c = *driver->control;
        QVERIFY(c.SettingsFromString(QStringLiteral("|0|S|500|1000|1|0|1|0|1|1000|0|COM1|9600|100|10|1000|1|/l|0||||")));
        QVERIFY(c.ConnectionScheme);
        QVERIFY(!c.AutoRunProgram);
        QVERIFY(c.AutoRunExchange);
        QVERIFY(!c.GetHints());
        QVERIFY(c.ErrorState);
        QVERIFY(!c.IndividualTimeOutState);
        QVERIFY(c.Logging);
        QVERIFY(!c.UseDdeManagement);
        QVERIFY(c.SettingsFromString(QStringLiteral("|0|S|500|1000|0|1|0|1|0|1000|1|COM1|9600|100|10|1000|0|/l|1||||")));
        QVERIFY(!c.ConnectionScheme);
        QVERIFY(c.AutoRunProgram);
        QVERIFY(!c.AutoRunExchange);
        QVERIFY(c.GetHints());
        QVERIFY(!c.ErrorState);
        QVERIFY(c.IndividualTimeOutState);
        QVERIFY(!c.Logging);
        QVERIFY(c.UseDdeManagement);
    }

    // The settings kept field by field come back exactly, bars in the texts and all.
    void fieldsWithBarsComeBackExactly()
    {
        auto driver = start();
        TProgramControl &c = *driver->control;
        c.ObjectName = QStringLiteral("a|b");
        c.PortName = QStringLiteral("COM1|2");
        c.LogFileDIR = QStringLiteral("/data/a|b");
        c.DdeService = QStringLiteral("|s|");
        c.DdeTopic = QStringLiteral("t|");
        c.DdeItem = QStringLiteral("|");
        c.UseDdeManagement = true;
        c.BaudR = 4800;
        const QStringList fields = SettingsFields(c);
        const QString before = c.SettingsToString();

        c.ObjectName = c.PortName = c.LogFileDIR = c.DdeService = c.DdeTopic = c.DdeItem = QString();
        c.UseDdeManagement = false;
        c.BaudR = 9600;
        portCalls.clear();
        QVERIFY(RestoreSettingsFields(c, fields));
        QCOMPARE(c.SettingsToString(), before);
        QCOMPARE(c.LogFileDIR, QStringLiteral("/data/a|b"));
        QVERIFY(c.UseDdeManagement);
        QCOMPARE(portCalls.size(), 1);
        QCOMPARE(portCalls[0].port, QStringLiteral("COM1|2"));
        QCOMPARE(portCalls[0].baud, 4800);
    }

    // A load that meets what it cannot serve says so once, in a box and in the log (the log's
    // settings come later in the file than the names): sensors past the 16-bit numbers are left
    // out, so every sensor served has its own item.
    void sensorsPastSixteenBitNumbersAreLeftOutAndSaid()
    {
        QByteArray ini = crlf("[Common Adjusts]\nLogging=1\nLogFileDIR=") + QFile::encodeName(folder) + "/Logs\r\n[Sensors]\r\n";
        for (int n = 1; n <= 65537; ++n)
            ini += "Sensor" + QByteArray::number(n) + "=|" + QByteArray::number(n % 200 + 1) + "|2|3|400|\r\n";
        QObject answerer;
        QStringList boxes;
        answerMessageBoxes(&answerer, &boxes);
        auto driver = start(ini);
        QTRY_COMPARE(boxes.size(), 1);  // the box does not hold the start-up
        QVERIFY2(boxes[0].contains(QStringLiteral("65537")) && boxes[0].contains(QStringLiteral("65536")), qPrintable(boxes[0]));
        const TProgramControl &c = *driver->control;
        QCOMPARE(c.SensorCount(), 65535);
        for (const int i : {0, 255, 65534}) {
            QVERIFY(c.Sensor(i)->ServerItem);
            QCOMPARE(c.Sensor(i)->ServerItem->name(), QStringLiteral("S%1").arg(i + 1));
            QCOMPARE(int(c.Sensor(i)->DeviceNumber), (i + 1) % 200 + 1);
        }
        QCOMPARE(logLines(folder + QStringLiteral("/Logs")).count(platform::toCp1251(boxes[0].left(40))), 1);
    }

    void refusedDdeNamesAreSaid_data()
    {
        QTest::addColumn<QByteArray>("lines");
        QTest::addColumn<QString>("topic");
        QTest::addColumn<QString>("prefix");
        QTest::addColumn<QStringList>("said");  // what each box names, in order
        QTest::newRow("names taken") << QByteArray("TopicName=PLANT\r\nObjectName=T") << "PLANT" << "T" << QStringList();
        QTest::newRow("empty topic") << QByteArray("TopicName=") << "ORVANT" << "S" << QStringList{"\"\"", "ORVANT"};
        QTest::newRow("long topic") << "TopicName=" + QByteArray(256, 'T') << "ORVANT" << "S"
                                    << QStringList{"TTTT...", "256", "ORVANT"};
        QTest::newRow("control in topic") << QByteArray("TopicName=A\x01" "B") << "ORVANT" << "S" << QStringList{"A?B", "ORVANT"};
        QTest::newRow("control in prefix") << QByteArray("ObjectName=P\x02") << "ORVANT" << "S" << QStringList{"P?", "\"S\""};
        QTest::newRow("long prefix") << "ObjectName=" + QByteArray(255, 'p') << "ORVANT" << "S"
                                     << QStringList{"ppp...", "255", "\"S\""};
        QTest::newRow("both") << QByteArray("TopicName=\x1b\r\nObjectName=\x1b") << "ORVANT" << "S" << QStringList{"ORVANT", "\"S\""};
    }

    void refusedDdeNamesAreSaid()
    {
        QFETCH(QByteArray, lines);
        QFETCH(QString, topic);
        QFETCH(QString, prefix);
        QFETCH(QStringList, said);
        QObject answerer;
        QStringList boxes;
        answerMessageBoxes(&answerer, &boxes);
        auto driver = start("[Common Adjusts]\r\n" + lines + "\r\nLogging=1\r\nLogFileDIR=" + QFile::encodeName(folder)
                            + "/Logs\r\n[Sensors]\r\nSensor1=|1|1|1|500|\r\nSensor2=|2|2|2|500|\r\n");
        const TProgramControl &c = *driver->control;
        QCOMPARE(c.TopicName(), topic);
        QCOMPARE(c.ObjectName, prefix);
        QCOMPARE(c.Sensor(1)->ServerItem ? c.Sensor(1)->ServerItem->name() : QStringLiteral("no item"), prefix + u'2');
        const QByteArray log = logLines(folder + QStringLiteral("/Logs"));
        QTRY_COMPARE(boxes.size(), int(said.contains(QStringLiteral("ORVANT"))) + int(said.contains(QStringLiteral("\"S\""))));
        const QString all = boxes.join(u'\n');
        for (const QString &part : said)
            QVERIFY2(all.contains(part), qPrintable(all));
        for (const QString &box : boxes)
            QCOMPARE(log.count(platform::toCp1251(box.left(30))), 1);
    }

    // A stored position off every screen puts the window where it lies whole on the primary
    // screen; the file keeps the stored position until the window is moved.
    void windowOffEveryScreenIsBroughtBack_data()
    {
        QTest::addColumn<int>("left");
        QTest::addColumn<int>("top");
        QTest::addColumn<bool>("seen");
        QTest::newRow("far left") << -5000 << 100 << false;
        QTest::newRow("far down") << 200 << 2147483647 << false;
        QTest::newRow("both extremes") << -2147483647 - 1 << -2147483647 - 1 << false;
        QTest::newRow("only a corner") << -205 << 50 << false;
        QTest::newRow("on the screen") << 30 << 40 << true;
        QTest::newRow("partly off, title seen") << -150 << 20 << true;
    }

    void windowOffEveryScreenIsBroughtBack()
    {
        QFETCH(int, left);
        QFETCH(int, top);
        QFETCH(bool, seen);
        putFile(folder + QStringLiteral("/tagpump.ini"),
                QStringLiteral("[Main]\r\nLeft=%1\r\nTop=%2\r\n").arg(left).arg(top).toLatin1());
        DriverFolderFixture driver(folder);
        driver.main->setFixedSize(220, 90);
        driver.control->LoadSettings();
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        const QRect placed(driver.main->pos(), driver.main->size());
        if (seen)
            QCOMPARE(driver.main->pos(), QPoint(left, top));
        else
            QVERIFY2(area.contains(placed), qPrintable(QStringLiteral("%1,%2").arg(placed.x()).arg(placed.y())));

        const QByteArray stored = QStringLiteral("Left=%1\r\nTop=%2\r\n").arg(left).arg(top).toLatin1();
        QVERIFY(driver.control->SaveSettings());
        QVERIFY2(fileBytes(driver.iniPath()).contains(stored), fileBytes(driver.iniPath()));
        driver.main->move(area.left() + 7, area.top() + 9);
        QVERIFY(driver.control->SaveSettings());
        QVERIFY(fileBytes(driver.iniPath()).contains(QStringLiteral("Left=%1\r\nTop=%2\r\n").arg(area.left() + 7).arg(area.top() + 9).toLatin1()));
    }

    // The warning box of such a start-up stands on the screen, with the window it belongs to.
    void startUpWarningIsOnTheScreen()
    {
        putFile(folder + QStringLiteral("/tagpump.ini"), "[Main]\r\nLeft=-5000\r\nTop=2147483647\r\n[Common Adjusts]\r\nTopicName=\r\n");
        DriverFolderFixture driver(folder);
        driver.main->setFixedSize(220, 90);
        QRect box;
        onNextModal([&box](QWidget *modal) {
            box = modal->frameGeometry();
            modal->close();
        });
        driver.control->LoadSettings();
        QTRY_VERIFY(box.isValid());  // shown without holding the start-up
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY2(area.contains(box), qPrintable(QStringLiteral("%1,%2 %3x%4").arg(box.x()).arg(box.y()).arg(box.width()).arg(box.height())));
    }

    void autorunEntryFollowsTheSetting()
    {
        const QString entry = platform::autorunEntryPath(QStringLiteral("tagpump"));
        {
            auto driver = start();
            driver->control->AutoRunProgram = true;
            QVERIFY(driver->control->SaveSettings());
        }
        QByteArray bytes = fileBytes(entry);
        QVERIFY2(bytes.contains("\nName=Tagpump\n"), bytes);
        // The program's own executable (not one in the working folder), started in that folder.
        const QByteArray exec = "\nExec=\"" + QFile::encodeName(QCoreApplication::applicationFilePath()) + "\"\n";
        QVERIFY2(bytes.contains(exec), bytes);
        QVERIFY2(bytes.contains("\nPath=" + QFile::encodeName(folder) + "\n"), bytes);

        // Started from another folder (with a blank and a "$" in its name), the entry names that one.
        const QString other = folder + QStringLiteral("/other $dir");
        QVERIFY(QDir().mkpath(other));
        {
            DriverFolderFixture driver(other);
            driver.control->LoadSettings();
            driver.control->AutoRunProgram = true;
            QVERIFY(driver.control->SaveSettings());
        }
        bytes = fileBytes(entry);
        QVERIFY2(bytes.contains(exec), bytes);
        QVERIFY2(bytes.contains("\nPath=" + QFile::encodeName(other) + "\n"), bytes);

        for (int round = 0; round < 2; ++round) {  // removed, then already absent
            auto driver = start();
            QCOMPARE(driver->control->AutoRunProgram, round == 0);  // as the last end stored it
            driver->control->AutoRunProgram = false;
            QVERIFY(driver->control->SaveSettings());
            QVERIFY(!QFile::exists(entry));
        }
    }

    void autorunFailureIsReportedAfterTheFile()
    {
        QVERIFY(putFile(folder + QStringLiteral("/config"), "a file where the folder should be"));
        auto driver = start();
        driver->control->AutoRunProgram = true;
        driver->control->SensorTimeInterval = 321;
        const auto text = answerNextBox(QMessageBox::Ok);
        QVERIFY(!driver->control->SaveSettings());
        QCOMPARE(*text, QStringLiteral("Failed to set data for 'Tagpump'"));
        QVERIFY(fileBytes(driver->iniPath()).contains("\r\nSensorTimeInterval=321\r\n"));
        QVERIFY(fileBytes(driver->iniPath()).endsWith("Sensor1=|1|1|1|500|\r\n"));
    }

    void refusedFileStaysWhole()
    {
        const QByteArray old = crlf("[Common Adjusts]\nSensorTimeInterval=700\n[Sensors]\nSensor1=|4|4|4|4|\n");
        auto driver = start(old);
        QVERIFY(QFile::setPermissions(driver->iniPath(), QFile::ReadOwner));
        driver->control->SensorTimeInterval = 900;
        const auto text = answerNextBox(QMessageBox::Ok);
        QVERIFY(!driver->control->SaveSettings());
        QCOMPARE(*text, QStringLiteral("Unable to write to %1\nФайл доступен только для чтения.").arg(driver->iniPath()));
        QCOMPARE(fileBytes(driver->iniPath()), old);
        QFile::setPermissions(driver->iniPath(), QFile::ReadOwner | QFile::WriteOwner);
    }
};

QTEST_MAIN(TestDriverSettings)
#include "tst_driver_settings.moc"
