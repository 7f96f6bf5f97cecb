// The settings window as a user drives it: the sensor grid's rows and kept texts, Apply with
// the DDE items it rebuilds, the close question's three answers, "COM-Setup" then No, and the
// values Apply refuses.
#include "tests/support/driver_folder_fixture.h"

#include "ascii_chanclass.h"
#include "setup_u.h"
#include "variableset.h"

#include "extlibs/comport/comport.h"
#include "platform/dde_client.h"
#include "platform/dde_server.h"
#include "tests/dde/dde_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDoubleSpinBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>

namespace {

// Five sensors that differ in every field: sensor n is instrument n, channel 10 + n, step n,
// time-out 100 n.
void makeFiveSensors(TProgramControl &c)
{
    c.FreeSensors();
    for (int n = 1; n <= 5; ++n) {
        TASCIIChannel *s = c.AddSensor();
        s->DeviceNumber = std::uint8_t(n);
        s->ChannelNumber = std::uint8_t(10 + n);
        s->Step = std::uint16_t(n);
        s->TimeOut = std::uint16_t(100 * n);
    }
}

QStringList sensors(const TProgramControl &c)
{
    QStringList out;
    for (int i = 0; i < c.SensorCount(); ++i)
        out << sensorText(c, i);
    return out;
}

} // namespace

class TestDriverSetupWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<platform::ApplicationWindow> window;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<DriverFolderFixture> driver;
    TSetup *setup = nullptr;

    TProgramControl &control() { return *driver->control; }
    template <typename T>
    T *find(const char *name) const
    {
        T *w = setup->findChild<T *>(QLatin1String(name));
        if (!w)
            qFatal("no control %s", name);
        return w;
    }
    QTableWidget *grid() const { return find<QTableWidget>("SG1"); }
    int gridRows() const
    {
        int rows = 0;
        for (int r = 0; r < grid()->rowCount(); ++r)
            rows += !grid()->isRowHidden(r);
        return rows;
    }
    QString row(int n) const
    {
        QStringList cells;
        for (int c = 0; c < 5; ++c)
            cells << (grid()->item(n - 1, c) ? grid()->item(n - 1, c)->text() : QStringLiteral("-"));
        return cells.join(u',');
    }
    void typeCount(const QString &text)
    {
        QSpinBox *count = find<QSpinBox>("SE1");
        count->selectAll();
        QTest::keyClicks(count, text);
    }
    void showSetup()
    {
        setup->show();
        QVERIFY(QTest::qWaitForWindowExposed(setup));
    }

private slots:
    void initTestCase()
    {
        window = std::make_unique<platform::ApplicationWindow>();
        // The main window's hook: readings and states reach the DDE items.
        window->addHook([](platform::Message &message) {
            PublishMessage(message);
            return false;
        });
    }

    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        driver = std::make_unique<DriverFolderFixture>(dir->path());
        makeFiveSensors(control());
        setup = new TSetup(driver->control, driver->main.get());
    }

    void cleanup()
    {
        delete setup;
        driver.reset();
    }

    void closingUnchangedAsksNothing()
    {
        control().ActivePageNumber = 7;
        showSetup();
        QCOMPARE(control().GetState(), std::uint8_t(dsSettings));
        QCOMPARE(find<QTabWidget>("PC1")->currentIndex(), 0);
        QVERIFY(!setup->Modified);
        setup->close();  // a question would block here
        QVERIFY(!setup->isVisible());
        QCOMPARE(control().GetState(), std::uint8_t(dsIdle));

        showSetup();
        find<QPushButton>("Button1")->click();
        QVERIFY(!setup->isVisible());
        QCOMPARE(int(control().ActivePageNumber), 0);
    }

    void gridRowsKeepTheirTexts()
    {
        showSetup();
        QCOMPARE(gridRows(), 5);
        QCOMPARE(row(3), QStringLiteral("S3,3,13,3,300"));
        QSpinBox *count = find<QSpinBox>("SE1");

        count->stepUp();
        QCOMPARE(row(6), QStringLiteral("S6,1,1,1,500"));
        typeCount(QStringLiteral("3"));
        QCOMPARE(gridRows(), 3);
        typeCount(QStringLiteral("5"));  // row 4 comes back as it was, row 5 as a new sensor
        QCOMPARE(row(4), QStringLiteral("S4,4,14,4,400"));
        QCOMPARE(row(5), QStringLiteral("S5,1,1,1,500"));
        count->stepDown();
        count->stepUp();
        QCOMPARE(row(5), QStringLiteral("S5,1,1,1,500"));

        // Typing 10 passes through 1; rows 7 to 9 never held texts and come in as new sensors.
        typeCount(QStringLiteral("10"));
        QCOMPARE(gridRows(), 10);
        QCOMPARE(row(2), QStringLiteral("S2,2,12,2,200"));
        QCOMPARE(row(6), QStringLiteral("S6,1,1,1,500"));
        QCOMPARE(row(8), QStringLiteral("S8,1,1,1,500"));
        QCOMPARE(row(10), QStringLiteral("S10,1,1,1,500"));

        find<QPushButton>("Button1")->click();
        QVERIFY(!setup->isVisible());
        QCOMPARE(sensors(control()), QStringList({"1,11,1,100", "2,12,2,200", "3,13,3,300", "4,14,4,400",
                                                  "1,1,1,500", "1,1,1,500", "1,1,1,500", "1,1,1,500",
                                                  "1,1,1,500", "1,1,1,500"}));
    }

    void hiddenTimeColumnIsStillApplied()
    {
        control().IndividualTimeOutState = true;
        showSetup();
        QVERIFY(!grid()->isColumnHidden(4));
        QCOMPARE(grid()->columnWidth(4), 60);
        grid()->item(1, 4)->setText(QStringLiteral("750"));
        find<QCheckBox>("ChB5")->click();
        QVERIFY(grid()->isColumnHidden(4));
        find<QPushButton>("Button1")->click();
        QVERIFY(!control().IndividualTimeOutState);
        QCOMPARE(control().Sensor(1)->TimeOut, std::uint16_t(750));
    }

    // Apply rebuilds the sensors' items under the new prefix, each with "0", as a DDE client sees.
    void applyRebuildsTheDdeItems()
    {
        useOwnRuntimeDir();
        QString error;
        bool running = false;
        const QString service = QStringLiteral("tagpump-setupwin-%1").arg(QCoreApplication::applicationPid());
        QVERIFY2(control().Serve(service, &error, &running), qPrintable(error));
        platform::DdeClient client;
        QVERIFY2(client.connectTo(service, QStringLiteral("ORVANT")), qPrintable(client.errorString()));
        QStringList seen;
        connect(&client, &platform::DdeClient::itemChanged, this,
                [&](const QString &item, const QString &text) { seen << item + u'=' + text; });
        QVERIFY(client.advise(QStringLiteral("T2")));
        control().PublishValue(2, QStringLiteral("23.5"));

        showSetup();
        find<QLineEdit>("Edit2")->setText(QStringLiteral("T"));
        QCOMPARE(row(2), QStringLiteral("T2,2,12,2,200"));
        find<QPushButton>("Button1")->click();
        QTRY_COMPARE(control().ServerConv->item(QStringLiteral("T5"))->text(), QStringLiteral("0"));
        QVERIFY(!control().ServerConv->item(QStringLiteral("S1")));
        QTRY_VERIFY2(seen.contains(QStringLiteral("T2=0")), qPrintable(seen.join(u' ')));
    }

    void closeQuestionHasThreeAnswers()
    {
        showSetup();
        QSpinBox *interval = find<QSpinBox>("SE2");
        interval->setValue(2300);
        QString caption, text;
        onNextModal([&](QWidget *modal) {
            caption = modal->windowTitle();
            auto *box = qobject_cast<QMessageBox *>(modal);
            text = box ? box->text() : QString();
            box ? box->button(QMessageBox::Cancel)->click() : void(modal->close());
        });
        setup->close();
        QCOMPARE(text, QStringLiteral("Вы произвели изменения!\nЗапомнить?"));
        QCOMPARE(caption, QStringLiteral("Confirm"));
        QVERIFY(setup->isVisible());
        QVERIFY(setup->Modified);
        QCOMPARE(interval->value(), 2300);
        QCOMPARE(control().GetState(), std::uint8_t(dsSettings));

        answerNextBox(QMessageBox::No);
        setup->close();
        QVERIFY(!setup->isVisible());
        QCOMPARE(int(control().SensorTimeInterval), 500);
        QCOMPARE(control().GetState(), std::uint8_t(dsIdle));

        showSetup();
        interval->setValue(2400);
        answerNextBox(QMessageBox::Yes);
        setup->close();
        QVERIFY(!setup->isVisible());
        QCOMPARE(int(control().SensorTimeInterval), 2400);
    }

    // No after the port dialog gives comport the stored settings back; Yes keeps the dialog's.
    void comSetupThenNoRestoresThePort()
    {
        for (const bool keep : {false, true}) {
            showSetup();
            onNextModal([](QWidget *dialog) {
                dialog->findChild<QComboBox *>(QStringLiteral("BaudBox"))->setCurrentText(QStringLiteral("19200"));
                dialog->findChild<QSpinBox *>(QStringLiteral("TimeOut3Box"))->setValue(2222);
                dialog->findChild<QDialogButtonBox *>()->button(QDialogButtonBox::Ok)->click();
            });
            find<QPushButton>("Button3")->click();
            QVERIFY(setup->Modified);
            answerNextBox(keep ? QMessageBox::Yes : QMessageBox::No);
            setup->close();

            char buffer[COMPORT_TEXT_SIZE] = "";
            char *port = buffer;
            std::uint16_t baud = 0, t1 = 0, t2 = 0, t3 = 0;
            QVERIFY(GetCOMCfg(control().PortHandle, &port, &baud, &t1, &t2, &t3));
            QCOMPARE(QList<int>({baud, t1, t2, t3}), keep ? QList<int>({19200, 100, 10, 2222}) : QList<int>({9600, 100, 10, 1000}));
            QCOMPARE(QList<int>({control().BaudR, control().TimeOut3}), keep ? QList<int>({19200, 2222}) : QList<int>({9600, 1000}));
        }
    }

    // Texts holding "|" come back exactly on No.
    void barsInTextsComeBackOnNo()
    {
        control().ObjectName = QStringLiteral("P|");
        control().PortName = QStringLiteral("COM1|2");
        control().LogFileDIR = QStringLiteral("/data/a|b");
        control().UseDdeManagement = true;
        control().DdeService = QStringLiteral("/opt/c|d");
        control().DdeTopic = QStringLiteral("t|u");
        control().DdeItem = QStringLiteral("|i");
        control().BaudR = 4800;
        const QString before = control().SettingsToString();
        showSetup();
        find<QCheckBox>("ChB7")->click();
        find<QSpinBox>("SE2")->setValue(900);
        answerNextBox(QMessageBox::No);
        setup->close();
        QCOMPARE(control().SettingsToString(), before);
        QCOMPARE(control().LogFileDIR, QStringLiteral("/data/a|b"));
        QVERIFY(control().UseDdeManagement);
        QCOMPARE(int(control().BaudR), 4800);
    }

    // A bad cell, topic or prefix is named, and the driver stays exactly as it was.
    void refusedValuesChangeNothing_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("value");
        QTest::addColumn<QString>("message");
        QTest::newRow("cell") << "3,2" << "x1" << "'x1' is not a valid integer value (строка 3, столбец \"Канал №\")";
        QTest::newRow("empty cell") << "4,4" << "" << "'' is not a valid integer value (строка 4, столбец \"Время, мс\")";
        QTest::newRow("prefix with blank") << "Edit2" << "A B" << "\"A B\"";
        QTest::newRow("empty prefix") << "Edit2" << "" << "\"\"";
        QTest::newRow("topic with blank") << "Edit1" << "OR VANT" << "\"OR VANT\"";
    }

    void refusedValuesChangeNothing()
    {
        QFETCH(QString, where);
        QFETCH(QString, value);
        QFETCH(QString, message);
        control().Logging = true;
        control().LogFileDIR = dir->path() + QStringLiteral("/Logs");
        const QList<TASCIIChannel *> before{control().Sensor(0), control().Sensor(4)};
        showSetup();
        find<QSpinBox>("SE2")->setValue(1700);
        if (where.contains(u',')) {
            const int r = where.section(u',', 0, 0).toInt(), c = where.section(u',', 1, 1).toInt();
            grid()->item(r - 1, c)->setText(value);
        } else {
            find<QLineEdit>(qPrintable(where))->setText(value);
        }
        setup->Modified = false;  // a refused Apply leaves it as it was
        auto text = answerNextBox(QMessageBox::Ok);
        find<QPushButton>("Button1")->click();
        QVERIFY2(text->contains(message), qPrintable(*text));
        QVERIFY(setup->isVisible());
        QVERIFY(!setup->Modified);
        QCOMPARE(QList<TASCIIChannel *>({control().Sensor(0), control().Sensor(4)}), before);
        QCOMPARE(control().SensorCount(), 5);
        QCOMPARE(int(control().SensorTimeInterval), 500);
        QCOMPARE(control().TopicName(), QStringLiteral("ORVANT"));
        QCOMPARE(control().ObjectName, QStringLiteral("S"));
        QVERIFY(!QFileInfo::exists(dir->path() + QStringLiteral("/Logs")));
    }

    void spinValuesStayInTheirLimits()
    {
        showSetup();
        QCOMPARE(find<QSpinBox>("SE3")->maximum(), 65535);
        typeCount(QStringLiteral("0"));  // refused: the count never becomes 0
        QCOMPARE(find<QSpinBox>("SE1")->value(), 5);
        QCOMPARE(gridRows(), 5);
        find<QSpinBox>("SE1")->setValue(5000);
        QCOMPARE(find<QSpinBox>("SE1")->value(), 1000);
    }

    // A list longer than the count's usual limit (as a settings file may bring) survives "&Ok"
    // unchanged: the count's limit is the list's length.
    void okKeepsAListLongerThanTheUsualLimit()
    {
        control().FreeSensors();
        for (int n = 1; n <= 1500; ++n)
            control().AddSensor()->DeviceNumber = std::uint8_t(n);
        showSetup();
        QCOMPARE(find<QSpinBox>("SE1")->value(), 1500);
        find<QPushButton>("Button1")->click();
        QCOMPARE(control().SensorCount(), 1500);
        QCOMPARE(int(control().Sensor(1499)->DeviceNumber), 1500 % 256);
    }

    void followsTheMainWindow()
    {
        QWidget &main = *driver->main;
        main.setGeometry(100, 80, 200, 60);
        main.show();
        showSetup();
        main.move(300, 150);
        QTRY_COMPARE(setup->pos(), QPoint(main.frameGeometry().x() + main.frameGeometry().width(), main.frameGeometry().y()));
    }
};

QTEST_MAIN(TestDriverSetupWindow)
#include "tst_driver_setupwin.moc"
