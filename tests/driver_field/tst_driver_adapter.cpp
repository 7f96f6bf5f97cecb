// The driver in the field: its serial adapter is pulled out in the middle of a run and put back.
// The line simulator's pseudo-terminal ends and a new one takes its place under the same name (a
// symbolic link that the test moves stands for a stable device name); readings come back with the
// first poll on the new line, and the log holds one line for every failed poll. A port name
// whose line has ended leads to no line made since.
#include "main_u.h"
#include "prgcontrol.h"
#include "sim/line_sim.h"
#include "tests/dde/dde_test_support.h"
#include "tests/support/file_bytes.h"

#include "extlibs/comport/comport.h"
#include "platform/codepage.h"
#include "platform/messages.h"

#include <QDirIterator>
#include <QMutex>
#include <QPushButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

using namespace std::chrono_literals;

class TestDriverAdapter : public QObject {
    Q_OBJECT

    // What the readouts showed, in the order of the polls, with the test's marks between.
    struct Shown {
        int sensor;  // 0 for a mark
        QString text;
    };
    QMutex lock;
    QList<Shown> shown;

    void mark(const QString &what)
    {
        QMutexLocker hold(&lock);
        shown.append({0, what});
    }
    // Readings of a sensor after the mark.
    QStringList after(const QString &markText, int sensor)
    {
        QMutexLocker hold(&lock);
        QStringList texts;
        bool marked = false;
        for (const Shown &s : std::as_const(shown)) {
            if (s.sensor == 0)
                marked = marked || s.text == markText;
            else if (marked && s.sensor == sensor)
                texts << s.text;
        }
        return texts;
    }

private slots:
    void initTestCase() { QVERIFY(useOwnRuntimeDir()); }

    void adapterUnpluggedAndBack()
    {
        platform::ApplicationWindow appWindow;
        QTemporaryDir folder;
        QVERIFY(QDir::setCurrent(folder.path()));
        const QString device = folder.filePath(QStringLiteral("ttyADAPTER"));
        auto line = std::make_unique<sim::LineSim>(std::map<std::uint8_t, int>{{3, 6}});
        line->setValue(3, 2, "11.5");
        line->setValue(3, 6, "-3.75");
        QVERIFY(QFile::link(QString::fromStdString(line->portPath()), device));

        QVERIFY(putFile(folder.filePath(QStringLiteral("tagpump.ini")),
                        QStringLiteral("[Common Adjusts]\r\nSensorTimeInterval=10\r\nSensorCircleInterval=30\r\n"
                                       "Logging=1\r\nLogFileDIR=%1\r\n[COM-port]\r\nCOMN=%2\r\nBaudR=19200\r\n"
                                       "TimeOut3=300\r\n[Sensors]\r\nSensor1=|3|2|1|500|\r\nSensor2=|3|6|1|500|\r\n")
                            .arg(folder.filePath(QStringLiteral("Logs")), device)
                            .toLocal8Bit()));

        auto main = std::make_unique<TMain>();
        QCOMPARE(main->InitializeDriver({QStringLiteral("/s")}, QStringLiteral("drvadapter")),
                 TMain::StartResult::Started);
        connect(PrgControl, &TProgramControl::ReadingShown, this,
                [this](std::uint16_t number, const QString &text) {
                    QMutexLocker hold(&lock);
                    shown.append({number, text});
                },
                Qt::DirectConnection);
        mark(QStringLiteral("run"));
        auto *button1 = main->findChild<QPushButton *>(QStringLiteral("Button1"));
        QTest::mouseClick(button1, Qt::LeftButton);
        QTRY_VERIFY(after("run", 1).contains("11.5") && after("run", 2).contains("-3.75"));

        // Unplugged: the name goes and the terminal ends; every poll fails.
        mark(QStringLiteral("unplugged"));
        QVERIFY(QFile::remove(device));
        line.reset();
        QTRY_VERIFY(after("unplugged", 1).count("ExErr") >= 2 && after("unplugged", 2).count("ExErr") >= 2);

        // Back, on another terminal under the same name.
        line = std::make_unique<sim::LineSim>(std::map<std::uint8_t, int>{{3, 6}});
        line->setValue(3, 2, "22.25");
        line->setValue(3, 6, "-4.5");
        mark(QStringLiteral("back"));
        QVERIFY(QFile::link(QString::fromStdString(line->portPath()), device));
        QVERIFY(line->waitForLog(4, 10s));  // two polls of each sensor on the new line
        QTRY_VERIFY(after("back", 1).count("22.25") >= 2 && after("back", 2).count("-4.5") >= 2);
        // Only a poll already under way when the name came back may still have failed.
        QVERIFY2(after("back", 1).count("ExErr") + after("back", 2).count("ExErr") <= 1,
                 qPrintable((after("back", 1) + after("back", 2)).join(u' ')));
        for (int sensor : {1, 2}) {
            const QStringList texts = after("back", sensor);
            QCOMPARE(texts.mid(texts.indexOf(sensor == 1 ? "22.25" : "-4.5")).count("ExErr"), 0);
        }

        QTest::mouseClick(button1, Qt::LeftButton);
        QTRY_COMPARE(button1->text(), QStringLiteral("&Action"));

        // The log: every failed poll has its line, named after its sensor.
        int failed[3] = {0, 0, 0};
        {
            QMutexLocker hold(&lock);
            for (const Shown &s : std::as_const(shown))
                failed[s.sensor] += s.sensor != 0 && s.text == QLatin1String("ExErr");
        }
        QDirIterator logs(folder.filePath(QStringLiteral("Logs")), {QStringLiteral("*.log")});
        QByteArray text;
        while (logs.hasNext()) {
            QFile file(logs.next());
            QVERIFY(file.open(QIODevice::ReadOnly));
            text += file.readAll();
        }
        QCOMPARE(int(text.count("\tPoint1\tCOM Port Exchange Error\r")), failed[1]);
        QCOMPARE(int(text.count("\tPoint2\tCOM Port Exchange Error\r")), failed[2]);
        QCOMPARE(int(text.count(platform::toCp1251(QStringLiteral("\tTagpump\tОбмен инициирован\r")))), 1);
    }

    // A driver still holding the port name of a line that has ended opens it again at its next
    // poll. The kernel gives an ended terminal's number to the next one made on the machine, so
    // that poll must find nothing rather than the line made meanwhile (here, or by a test running
    // beside this one).
    void endedLineLeadsToNoLaterLine()
    {
        auto ended = std::make_unique<sim::LineSim>();
        const QByteArray name = QByteArray::fromStdString(ended->portPath());
        const std::uint32_t port = CreateCOM(0);
        QVERIFY(SetCOMCfg(port, name.constData(), 19200, 100, 10, 100) && OpenCOM(port));
        ended.reset();
        QVERIFY(!TransmitCOMPOneByte(port, "#01\r"));  // the line is lost; the port closes
        QCOMPARE(GetCOMLastError(port), COMPORT_ERR_IO);

        sim::LineSim later;
        QVERIFY(!TransmitCOMPOneByte(port, "#01\r"));
        QCOMPARE(GetCOMLastError(port), COMPORT_ERR_UNKNOWN_PORT);
        CloseCOM(port);
        const sim::LineSimStats seen = later.stats();
        QCOMPARE(seen.requests + seen.rejected, 0u);
    }
};

QTEST_MAIN(TestDriverAdapter)
#include "tst_driver_adapter.moc"
