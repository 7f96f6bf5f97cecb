// A second copy of the driver started in the working folder of a running one: it says that the
// driver is already running, naming the service, and ends without touching "tagpump.ini" or
// anything else of the running copy.
#include "main_u.h"
#include "prgcontrol.h"
#include "tests/dde/dde_test_support.h"
#include "tests/support/message_boxes.h"
#include "tests/support/file_bytes.h"

#include "platform/autorun.h"
#include "platform/dde_client.h"
#include "platform/messages.h"

#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

class TestDriverSecondCopy : public QObject {
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(useOwnRuntimeDir());
        // The settings ask for autorun: its entry goes to a configuration folder of the test's own.
        QVERIFY(config.isValid());
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(config.path()));
    }

    void secondCopyLeavesTheFirstAlone()
    {
        platform::ApplicationWindow appWindow;
        QTemporaryDir folder;
        QVERIFY(QDir::setCurrent(folder.path()));
        const QString iniPath = folder.filePath(QStringLiteral("tagpump.ini"));
        // Values of its own in every key the second copy could write back.
        const QByteArray settings = "[Main]\r\nLeft=321\r\nTop=123\r\n[Common Adjusts]\r\nObjectName=Q\r\n"
                                    "SensorTimeInterval=777\r\nLogging=1\r\nLogFileDIR=" + QFile::encodeName(folder.filePath("L"))
                                    + "\r\nAutoRunProgram=1\r\n[COM-port]\r\nCOMN=/dev/null/none\r\n"
                                      "[Sensors]\r\nSensor1=|9|8|7|654|\r\n";
        QVERIFY(putFile(iniPath, settings));
        const QDateTime written = QFileInfo(iniPath).lastModified();

        QStringList messages;
        auto first = std::make_unique<TMain>();
        answerMessageBoxes(first.get(), &messages);
        QCOMPARE(first->InitializeDriver({}, QStringLiteral("tagpump")), TMain::StartResult::Started);
        QCOMPARE(PrgControl->SensorTimeInterval, std::uint16_t(777));
        TProgramControl *firstControl = PrgControl;
        platform::DdeClient user;
        QVERIFY(user.connectTo(QStringLiteral("tagpump"), QStringLiteral("ORVANT")));
        QTRY_COMPARE(user.request(QStringLiteral("TAGPUMPSTATUS")).value_or(QStringLiteral("none")), QStringLiteral("0"));

        auto second = std::make_unique<TMain>();
        answerMessageBoxes(second.get(), &messages);
        QCOMPARE(second->InitializeDriver({}, QStringLiteral("tagpump")), TMain::StartResult::AlreadyRunning);
        second.reset();
        const QString autorunEntry = platform::autorunEntryPath(QStringLiteral("tagpump"));
        QVERIFY(autorunEntry.startsWith(config.path()));
        QVERIFY2(!QFile::exists(autorunEntry), "the second copy wrote the autorun entry");
        // Within one test process the second copy's controller took the global over while it
        // lived; two programs have one each.
        PrgControl = firstControl;
        QCOMPARE(messages.size(), 1);
        QVERIFY2(messages[0].contains(QStringLiteral("уже запущена")) && messages[0].contains(QStringLiteral("\"tagpump\"")),
                 qPrintable(messages[0]));

        QCOMPARE(fileBytes(iniPath), settings);
        QCOMPARE(QFileInfo(iniPath).lastModified(), written);
        QCOMPARE(QDir(folder.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList{"tagpump.ini"});

        // The first copy still serves.
        QVERIFY(user.isConnected());
        QCOMPARE(user.request(QStringLiteral("TAGPUMPSTATUS")).value_or(QStringLiteral("none")), QStringLiteral("0"));
        QCOMPARE(user.request(QStringLiteral("Q1")).value_or(QStringLiteral("none")), QStringLiteral("0"));
        first.reset();
        QVERIFY(QFile::exists(autorunEntry));  // the first copy's own, at its end
    }

private:
    QTemporaryDir config;
};

QTEST_MAIN(TestDriverSecondCopy)
#include "tst_driver_second_copy.moc"
