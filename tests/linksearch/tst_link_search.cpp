// The link check and the device search from the link tab, against simulated instruments: what
// crossed the line, what the window showed and asked, and that a stop is never lost.
#include "tests/support/setup_transfer_fixture.h"

#include "extlibs/ex_com/ex_com.h"
#include "tests/device/scripted_line.h"
#include "tests/support/field_allowances.h"

#include <algorithm>
#include <cstring>
#include <string>

#include <dlfcn.h>
#include <optional>

using namespace transfers;

// The link library's port listing, as the program sees it: these definitions come before the
// library's in the program's link, and pass the calls on to it until a test gives a listing of
// its own (this machine's serial ports are whatever it has).
namespace listing {
bool Own = false;
std::int32_t Result = EX_OK;
std::string Text;
int FailingSplit = 0;  // the split (1 = the first) that fails; 0: none
int Splits = 0;

template <class Function>
Function Library(const char *name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_NEXT, name));
}
} // namespace listing

extern "C" std::int32_t EX_SearchAvailableCOMPorts(std::uint32_t handle, std::int32_t mode, std::uint32_t window,
                                                   char **text)
{
    if (!listing::Own)
        return listing::Library<decltype(&EX_SearchAvailableCOMPorts)>("EX_SearchAvailableCOMPorts")(handle, mode,
                                                                                                     window, text);
    std::strncpy(*text, listing::Text.c_str(), EX_PORT_LIST_SIZE - 1);
    return listing::Result;
}

extern "C" std::int32_t EX_ExtractAvailableCOMPorts(const char *text, void *list, EX_AddString add)
{
    if (listing::Own && ++listing::Splits == listing::FailingSplit)
        return EX_ERR_NO_PORTS;
    return listing::Library<decltype(&EX_ExtractAvailableCOMPorts)>("EX_ExtractAvailableCOMPorts")(text, list, add);
}

namespace {

const QString LinkQuestion = QStringLiteral("Связь установлена!\nСчитать настройки из прибора?");
const QString SearchQuestion = QStringLiteral("Начать поиск приборов?");
const QString SearchDone = QStringLiteral("Поиск приборов завершен.");
const QString SearchFailed = QStringLiteral("Ошибка поиска приборов!");
const QString StartCaption = QStringLiteral("Начать поиск");
const QString StopCaption = QStringLiteral("Остановить поиск");

QStringList Items(const QListWidget *list)
{
    QStringList items;
    for (int i = 0; i < list->count(); ++i)
        items << list->item(i)->text();
    return items;
}

// The addresses of the Identify requests that crossed the line, once the simulator has read at
// least `count` requests: nothing answers the last one of a check or search at a silent address,
// so the simulator may be woken to read it only after the operation has ended.
QList<int> Identified(const sim::InstrumentSim &line, std::size_t count = 0)
{
    line.waitForLog(count, std::chrono::seconds(30));
    QList<int> addresses;
    for (const auto &r : line.log()) {
        if (r.command == 0)
            addresses << r.address;
    }
    return addresses;
}

// Instruments of another type at the addresses from first to last that are not ours: they
// answer at once and are not found, so that a search over a whole range waits out no allowance
// for silence, while the instruments it finds have the suite's wide allowance.
void AddOtherTypes(sim::InstrumentSim &line, const std::vector<std::uint8_t> &ours, int first, int last)
{
    for (int a = first; a <= last; ++a) {
        if (std::find(ours.begin(), ours.end(), a) != ours.end())
            continue;
        line.addInstrument(std::uint8_t(a));
        line.modify(std::uint8_t(a), [](sim::InstrumentModel &m) { m.deviceType = EX_DEVICE_TYPE + 3; });
    }
}

} // namespace

class TestLinkSearch : public QObject {
    Q_OBJECT
    TFixture f;

    // The search group at the simulator's port and 19200 baud, over first..last; the link group
    // names another port and baud rate.
    void SearchAt(const std::string &port, int first, int last)
    {
        f.Ui().TS0CB2->addItem(QString::fromStdString(port));
        f.Ui().TS0CB2->setCurrentIndex(f.Ui().TS0CB2->count() - 1);
        f.Ui().TS0CB3->setCurrentText(QStringLiteral("19200"));
        f.Ui().TS0SE1->setValue(first);
        f.Ui().TS0SE2->setValue(last);
        f.UsePort(QStringLiteral("/dev/null-no-such-port"));
        f.Ui().TS0CB1->setCurrentText(QStringLiteral("300"));
    }
    // Clicks the search button, answers Yes to its question, and waits until the button offers
    // the stop.
    void StartSearch()
    {
        f.Script.reset(&(new TScript)->Answer(QMessageBox::Yes).Answer(QMessageBox::Ok));
        f.Ui().TS0Button2->click();
        QVERIFY(WaitFor([&] { return f.Ui().TS0Button2->text() == StopCaption; }, 10000));
    }
    void WaitForEnd()
    {
        QVERIFY2(WaitFor([] { return TExchange::Running() == 0; }, 60000), "the search did not end");
        QCOMPARE(f.Ui().TS0Button2->text(), StartCaption);
    }

private slots:
    void init() { f.Init(); }
    void cleanup() { f.Cleanup(); }

    void identifyReplies_data()
    {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("shown");
        QTest::newRow("9") << QByteArray("9") << LinkQuestion;
        QTest::newRow("09") << QByteArray("09") << LinkQuestion;
        QTest::newRow("9a") << QByteArray("9a") << QStringLiteral("Неверный тип прибора!");
        QTest::newRow("empty") << QByteArray() << QStringLiteral("Неверный тип прибора!");
        QTest::newRow("10") << QByteArray("10") << QStringLiteral("Неверный тип прибора!");
        QTest::newRow("265: only the low byte counts") << QByteArray("265") << LinkQuestion;
        QTest::newRow("521") << QByteArray("521") << LinkQuestion;
        QTest::newRow("256 + 10") << QByteArray("266") << QStringLiteral("Неверный тип прибора!");
    }
    // The check's messages are forced: they show with every message option off. No to the
    // question ends the check without reading.
    void identifyReplies()
    {
        QFETCH(QByteArray, reply);
        QFETCH(QString, shown);
        TScriptedLine line([reply](const excom::Frame &, int) {
            return TScriptedLine::TAnswer{TScriptedLine::TAnswer::Reply, reply.toStdString()};
        });
        QVERIFY(line.IsValid());
        f.UsePort(line.PortPath());
        f.Ui().TS0SE0->setValue(23);
        for (QAction *option : {f.Ui().M1N1, f.Ui().M1N2, f.Ui().M1N3})
            option->setChecked(false);
        QCOMPARE(f.Run(f.Ui().TS0Button1, &(new TScript)->Answer(QMessageBox::No).Answer(QMessageBox::Ok)),
                 QStringList{shown});
        const auto requests = line.Requests();
        QCOMPARE(requests.size(), 1u);
        QCOMPARE(int(requests[0].command), 0);
        QCOMPARE(int(requests[0].address), 23);
        QVERIFY(!f.Ui().M1N3->isChecked());
        f.VerifyIdle();
    }

    // The port lists hold the ports the library lists, in its order; a failed listing gives
    // both lists "COM1" and "COM2", and a failed split of the link list's names gives the search
    // list the fallback too. The link's baud rate is "9600"; the search's stays as it was (the
    // project gives it).
    void portListsAndTheirFallback_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<int>("failingSplit");
        QTest::addColumn<QStringList>("linkPorts");
        QTest::addColumn<QStringList>("searchPorts");
        const QStringList present{"/dev/ttyUSB3", "/dev/ttyS1", "/dev/ttyUSB0"};
        const QStringList fallback{"COM1", "COM2"};
        QTest::newRow("ports present") << int(EX_OK) << 0 << present << present;
        QTest::newRow("no port present") << int(EX_ERR_NO_PORTS) << 0 << fallback << fallback;
        QTest::newRow("the link list's split fails") << int(EX_OK) << 1 << QStringList() << fallback;
        // The fallback follows a failure before the list's own split, not its own failure.
        QTest::newRow("the search list's split fails") << int(EX_OK) << 2 << present << QStringList();
    }
    void portListsAndTheirFallback()
    {
        QFETCH(int, result);
        QFETCH(int, failingSplit);
        QFETCH(QStringList, linkPorts);
        QFETCH(QStringList, searchPorts);
        f.Ui().TS0CB1->setCurrentText(QStringLiteral("300"));
        f.Ui().TS0CB3->setCurrentText(QStringLiteral("1200"));
        listing::Own = true;
        listing::Result = result;
        listing::Text = result == EX_OK ? "/dev/ttyUSB3;/dev/ttyS1;/dev/ttyUSB0" : "";
        listing::FailingSplit = failingSplit;
        listing::Splits = 0;
        f.Device().SearchPorts();
        listing::Own = false;
        const auto items = [](const QComboBox *list) {
            QStringList texts;
            for (int i = 0; i < list->count(); ++i)
                texts << list->itemText(i);
            return texts;
        };
        QCOMPARE(items(f.Ui().TS0CB0), linkPorts);
        QCOMPARE(items(f.Ui().TS0CB2), searchPorts);
        QCOMPARE(f.Ui().TS0CB0->currentText(), linkPorts.value(0));
        QCOMPARE(f.Ui().TS0CB2->currentText(), searchPorts.value(0));
        QCOMPARE(f.Ui().TS0CB1->currentText(), QStringLiteral("9600"));
        QCOMPARE(f.Ui().TS0CB3->currentText(), QStringLiteral("1200"));
    }

    void silentInstrumentHasNoLink()
    {
        const FieldAllowances field;  // silent addresses wait the field's time-out
        f.Ui().TS0SE0->setValue(9);  // the simulator's instrument is at 0
        f.Ui().M1N2->setChecked(false);
        QCOMPARE(f.Run(f.Ui().TS0Button1, &(new TScript)->Answer(QMessageBox::Ok)),
                 QStringList{QStringLiteral("Нет связи с прибором!")});
        QCOMPARE(Identified(*f.Line, 1), QList<int>{9});
        f.VerifyIdle();
    }

    // Yes reads all settings without asking again, also with confirmations on, and gives the
    // option back as it was; also when the read fails.
    void yesReadsAllSettingsWithConfirmationsOffForTheRead()
    {
        f.Line->modify(0, [](sim::InstrumentModel &m) { m.setEepromFloat(6 + 16, 0.375f); m.updateCrcWords(); });
        QVERIFY(f.Ui().M1N3->isChecked());
        QCOMPARE(f.Run(f.Ui().TS0Button1, &(new TScript)->Answer(QMessageBox::Yes).Answer(QMessageBox::Ok)),
                 QStringList({LinkQuestion, QStringLiteral("Чтение настроек завершено.")}));
        QCOMPARE(Trace(*f.Line), QStringList({"0", "2 0"}) + Repeat("3", 87));
        QCOMPARE(f.Ui().TS3Edit7->text(), QStringLiteral("0.375"));
        QVERIFY(f.Ui().M1N3->isChecked());
        f.VerifyIdle();

        // The stored CRC word no longer matches: the read reports its error.
        f.Line->modify(0, [](sim::InstrumentModel &m) { m.eeprom[0] ^= 0x5A; });
        const QStringList seen = f.Run(f.Ui().TS0Button1, &(new TScript)->Answer(QMessageBox::Yes).Answer(QMessageBox::Ok));
        QCOMPARE(seen.size(), 2);
        QVERIFY(seen[1].startsWith(QStringLiteral("Контрольная сумма")));
        QVERIFY(f.Ui().M1N3->isChecked());

        f.Ui().M1N3->setChecked(false);
        f.Run(f.Ui().TS0Button1, &(new TScript)->Answer(QMessageBox::Yes).Answer(QMessageBox::Ok));
        QVERIFY(!f.Ui().M1N3->isChecked());
        f.VerifyIdle();
    }

    // Three instruments on one line among instruments of another type, found in order at the
    // search group's port and baud rate while the link group names another port and rate.
    void searchFindsEveryInstrumentInOrder()
    {
        const std::vector<std::uint8_t> ours{254, 7, 100};
        sim::InstrumentSim line(ours);
        QVERIFY(line.isValid());
        AddOtherTypes(line, ours, 0, 255);
        SearchAt(line.portPath(), 0, 255);
        f.Window->ProgramControl->SetProgress(1, 0, 100, 40);  // a transfer's range before
        StartSearch();
        QVERIFY(WaitFor([&] { return f.Ui().TS0LB0->count() > 0; }, 30000));
        // While it runs: its own button stays usable, the link check does not.
        QVERIFY(f.Ui().TS0Button2->isEnabled());
        QVERIFY(!f.Ui().TS0Button1->isEnabled());
        QVERIFY(!f.Window->ProgramControl->ProgressGauge()->isHidden());
        WaitForEnd();
        QCOMPARE(f.Script->Seen(), QStringList({SearchQuestion, SearchDone}));
        QCOMPARE(Items(f.Ui().TS0LB0), QStringList({"7", "100", "254"}));
        QList<int> all;
        for (int a = 0; a <= 255; ++a)
            all << a;
        QCOMPARE(Identified(line), all);
        QVERIFY(f.Line->log().empty());  // nothing went to the link group's instrument
        QProgressBar *gauge = f.Window->ProgramControl->ProgressGauge();
        QVERIFY(gauge->isHidden());
        QCOMPARE(gauge->minimum(), 0);
        QCOMPARE(gauge->maximum(), 255);
        QVERIFY(f.Ui().TS0Button1->isEnabled());
        f.VerifyIdle();
    }

    // Stopped midway: the addresses found stay listed, and no address is asked after the one
    // in flight when the stop came. The addresses after the second instrument are silent: the
    // stop ends the wait of one of them.
    void stoppedSearchKeepsWhatItFound()
    {
        sim::InstrumentSim line({3, 17, 40});
        AddOtherTypes(line, {3, 17}, 0, 16);
        SearchAt(line.portPath(), 0, 255);
        StartSearch();
        QVERIFY(WaitFor([&] { return f.Ui().TS0LB0->count() == 2; }, 30000));
        const std::size_t asked = Identified(line).size();
        f.Ui().TS0Button2->click();
        QCOMPARE(f.Ui().TS0Button2->text(), QStringLiteral("Wait..."));
        f.Ui().TS0Button2->click();  // "Wait...": nothing
        WaitForEnd();
        QCOMPARE(Items(f.Ui().TS0LB0), QStringList({"3", "17"}));
        QVERIFY(std::size_t(Identified(line).size()) <= asked + 1);
        QCOMPARE(f.Script->Seen(), QStringList({SearchQuestion, SearchDone}));
        f.VerifyIdle();
    }

    // A stop that comes while the search still waits for the link lock ends it before any
    // address is asked.
    void stopBeforeTheSearchBeganIsKept()
    {
        sim::InstrumentSim line({3});
        SearchAt(line.portPath(), 0, 10);
        QVERIFY(COMPortMutex().tryLock());
        StartSearch();
        f.Ui().TS0Button2->click();
        QCOMPARE(f.Ui().TS0Button2->text(), QStringLiteral("Wait..."));
        COMPortMutex().unlock();
        WaitForEnd();
        QVERIFY(line.log().empty());
        QCOMPARE(f.Ui().TS0LB0->count(), 0);
        f.VerifyIdle();
    }

    // A late reply of one address is not taken as the reply of the next.
    void lateReplyIsNotTheNextAddresss()
    {
        // An allowance wide enough for a simulator woken late, and a reply of 5 beyond it. The
        // simulator answers 6 only after that late reply, which leaves 6 three quarters of its
        // allowance.
        const FieldAllowances field;
        qputenv("EX_COM_REPLY_ALLOWANCE_MS", "1000");
        sim::InstrumentSim line({5, 6});
        line.setSlowDelay(std::chrono::milliseconds(1250)); // beyond one time-out, within two
        line.injectFault(sim::Fault::SlowAnswer, 1);       // the reply of 5
        SearchAt(line.portPath(), 4, 7);
        StartSearch();
        WaitForEnd();
        QCOMPARE(Items(f.Ui().TS0LB0), QStringList{"6"});
        QCOMPARE(Identified(line, 4), QList<int>({4, 5, 6, 7}));
    }

    // A stop that reached the link as the last search ended does not end the next one.
    void staleStopDoesNotEndTheNextSearch()
    {
        sim::InstrumentSim line({2});
        SearchAt(line.portPath(), 0, 3);
        EX_StopSearchAvailableDevices(f.Device().LinkHandle);
        StartSearch();
        WaitForEnd();
        QCOMPARE(Items(f.Ui().TS0LB0), QStringList{"2"});
        QCOMPARE(Identified(line, 4), QList<int>({0, 1, 2, 3}));
    }

    void rangeBackwardsFailsWithoutTheLink()
    {
        sim::InstrumentSim line({10});
        SearchAt(line.portPath(), 11, 10);
        StartSearch();
        WaitForEnd();
        QCOMPARE(f.Script->Seen(), QStringList({SearchQuestion, SearchFailed}));
        QVERIFY(line.log().empty());
        f.VerifyIdle();

        f.Ui().TS0SE1->setValue(10);
        StartSearch();
        WaitForEnd();
        QCOMPARE(Items(f.Ui().TS0LB0), QStringList{"10"});
        QCOMPARE(Identified(line), QList<int>{10});
    }

    void unopenablePortFails()
    {
        SearchAt("/dev/null-no-such-port", 0, 3);
        StartSearch();
        WaitForEnd();
        QCOMPARE(f.Script->Seen(), QStringList({SearchQuestion, SearchFailed}));
        f.VerifyIdle();
    }
};

int main(int argc, char **argv)
{
    return RunIsolated<TestLinkSearch>(argc, argv);
}

#include "tst_link_search.moc"
