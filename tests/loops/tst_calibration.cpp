// The calibration procedures through the main window against the simulated instrument playing
// reference readings: each coefficient from known readings, the zero tests, the three-wire
// procedure's two passes, declined and cancelled steps, bad reference fields and link failures;
// and on every path the clean-up.
#include "loop_fixture.h"

#include <QElapsedTimer>

#include <bit>
#include <functional>

using namespace loops;
using transfers::TFixture;
using transfers::TScript;

namespace {

// The mode code writes of one procedure.
QStringList ModeCode(std::initializer_list<int> bytes)
{
    QStringList lines{QStringLiteral("7 4")};
    for (const int b : bytes)
        lines << QStringLiteral("8 %1").arg(b);
    return lines;
}

// n reads of the ADC block.
QStringList ADCReads(int n)
{
    QStringList lines;
    for (int i = 0; i < n; ++i)
        lines << QStringList{QStringLiteral("5 0")} + transfers::Repeat(QStringLiteral("6"), 17);
    return lines;
}

// What the calibration put on the line: everything after the parameter write's finish.
QStringList AfterParameterWrite(const QStringList &trace)
{
    return trace.mid(int(trace.lastIndexOf(QStringLiteral("11"))) + 1);
}

// Yes to the question, Yes and OK to the parameter write, OK to the prompt, OK to the report.
// Calls back when a message box with the given text is hidden, that is, answered: an event
// filter sees it at once, where a polling timer could miss a box answered between two ticks.
class TPromptAnswered : public QObject {
public:
    TPromptAnswered(const QString &text, std::function<void()> answered)
        : FText(text), FAnswered(std::move(answered))
    {
        qApp->installEventFilter(this);
    }
    ~TPromptAnswered() override { qApp->removeEventFilter(this); }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::Hide)
            if (const auto *box = qobject_cast<QMessageBox *>(watched); box && box->text() == FText)
                FAnswered();
        return false;
    }

private:
    QString FText;
    std::function<void()> FAnswered;
};

TScript *AllAccepted()
{
    return &(new TScript)
                ->Answer(QMessageBox::Yes)
                .Answer(QMessageBox::Yes)
                .Answer(QMessageBox::Ok)
                .Answer(QMessageBox::Ok)
                .Answer(QMessageBox::Ok);
}

TCalibration Model(TDevice &device)
{
    return TCalibration::FromBytes(device.CalibBlock);
}

// A coefficient as its bits: the instrument keeps 32-bit floats, and a sum kept wider differs
// from its sum in the last bits only.
quint32 Bits(float value)
{
    return std::bit_cast<quint32>(value);
}

// The mean of per-sample terms as a 32-bit coefficient keeps it: the running sum rounded to 32
// bits after every term, then divided by N in 32 bits.
float Mean32(const std::vector<double> &terms)
{
    float sum = 0;
    for (const double term : terms)
        sum = float(sum + term);
    return sum / float(terms.size());
}

// The same mean with the sum kept in 64 bits: what a coefficient must not be.
float Mean64(const std::vector<double> &terms)
{
    double sum = 0;
    for (const double term : terms)
        sum += term;
    return float(sum / double(terms.size()));
}

// Reading k of a spread of channel voltages in an order of their own: over 100 of them the
// 32-bit sums of every procedure's terms (and the three-wire procedure's means) differ from
// their 64-bit sums. Channel 2 stays below the form's Uref of 2.5.
sim::AdcReading Spread(int k)
{
    return Reading(float(1.5 + (k * 37 % 101) * 0.0123), float(0.2 + (k * 53 % 97) * 0.0171),
                   float(0.4 + (k * 23 % 89) * 0.0087));
}

std::vector<sim::AdcReading> Spread(int first, int count)
{
    std::vector<sim::AdcReading> readings;
    for (int k = first; k < first + count; ++k)
        readings.push_back(Spread(k));
    return readings;
}

// The three-wire procedure's results from the readings of its two passes: the means of each
// pass summed and divided in 32 bits, the formulas worked out in 64 bits and stored in 32, Rref
// from Uref as stored.
struct TThreeWire {
    float Uref;
    float Rref;
};
TThreeWire ThreeWire(const std::vector<sim::AdcReading> &first, const std::vector<sim::AdcReading> &second,
                     double r1, double r2, bool wideSums = false)
{
    const auto mean = [wideSums](const std::vector<sim::AdcReading> &pass, float sim::AdcReading::*channel) {
        std::vector<double> values;
        for (const sim::AdcReading &reading : pass)
            values.push_back(reading.*channel);
        return wideSums ? Mean64(values) : Mean32(values);
    };
    const double a1 = mean(first, &sim::AdcReading::channel1), b1 = mean(first, &sim::AdcReading::channel2);
    const double a2 = mean(second, &sim::AdcReading::channel1), b2 = mean(second, &sim::AdcReading::channel2);
    const double p = b1 - 2 * a1, q = (b2 - 2 * a2) * r1 - p * r2;
    const float uref = float((r1 * b1 * (b2 - 2 * a2) - r2 * b2 * p) / q);
    return {uref, float((uref - b1) * r1 / p)};
}

// The single-coefficient procedures: button, coefficient and per-sample term with the form's
// references (voltage 50, currents 4 and 16, Rref 150, Uref 2.5).
struct TMember {
    QPushButton *Ui::TfMain::*Button;
    float TCalibration::*Coefficient;
    double (*Term)(const sim::AdcReading &);
};
const TMember Members[] = {
    {&Ui::TfMain::TS3Button5, &TCalibration::Ku, [](const sim::AdcReading &r) { return 50.0 / r.channel1; }},
    {&Ui::TfMain::TS3Button3, &TCalibration::Ki05, [](const sim::AdcReading &r) { return 4.0 / r.channel3; }},
    {&Ui::TfMain::TS3Button4, &TCalibration::Ki20, [](const sim::AdcReading &r) { return 16.0 / r.channel3; }},
    {&Ui::TfMain::TS3Button7, &TCalibration::Rl,
     [](const sim::AdcReading &r) { return double(r.channel2) * 150.0f / (2.5f - double(r.channel2)); }},
    {&Ui::TfMain::TS3Button8, &TCalibration::Rc,
     [](const sim::AdcReading &r) {
         return (double(r.channel2) - r.channel3) * 150.0f / (2.5f - double(r.channel2));
     }},
};

// Records the calibration gauge's steps (range from 1; the transfers' gauge runs from 0) as
// "position/maximum", with the time each was shown.
struct TGaugeSteps {
    QStringList Steps;
    QList<qint64> Shown;
    QElapsedTimer Clock;

    explicit TGaugeSteps(QProgressBar *gauge)
    {
        Clock.start();
        Connection = QObject::connect(gauge, &QProgressBar::valueChanged, gauge, [this, gauge](int value) {
            if (gauge->minimum() != 1)
                return;
            Steps << QStringLiteral("%1/%2").arg(value).arg(gauge->maximum());
            Shown << Clock.elapsed();
        });
    }
    ~TGaugeSteps() { QObject::disconnect(Connection); }
    TGaugeSteps(const TGaugeSteps &) = delete;
    TGaugeSteps &operator=(const TGaugeSteps &) = delete;

private:
    QMetaObject::Connection Connection;
};

} // namespace

class TestCalibration : public QObject {
    Q_OBJECT
    TFixture f;

    void SetPlan(int count, int pause)
    {
        f.Ui().TS3SE0->setValue(count);
        f.Ui().TS3SE1->setValue(pause);
    }
    // The clean-up ran: indicators back once, port closed (a new operation can open it), idle.
    void VerifyCleanedUp(int indicatorResets)
    {
        f.VerifyIdle();
        QCOMPARE(f.Line->instrument().indicatorResets, indicatorResets);
        QVERIFY(f.Ui().TS3Button5->isEnabled());
    }

private slots:
    void init()
    {
        f.Init();
        // Coefficients on the form that no procedure gives by chance.
        const char *shown[] = {"1.100", "1.200", "1.300", "150.000", "2.500", "0.400", "0.500"};
        QLineEdit *fields[] = {f.Ui().TS3Edit7, f.Ui().TS3Edit8, f.Ui().TS3Edit9, f.Ui().TS3Edit10,
                               f.Ui().TS3Edit11, f.Ui().TS3Edit12, f.Ui().TS3Edit13};
        for (int i = 0; i < 7; ++i)
            fields[i]->setText(QLatin1String(shown[i]));
        f.Ui().TS3Edit0->setText(QStringLiteral("4"));
        f.Ui().TS3Edit1->setText(QStringLiteral("16"));
        f.Ui().TS3Edit2->setText(QStringLiteral("50"));
        f.Ui().TS3Edit3->setText(QStringLiteral("100"));
        f.Ui().TS3Edit4->setText(QStringLiteral("200"));
        SetPlan(3, 0);
    }
    void cleanup() { f.Cleanup(); }

    void voltageIsTheMeanOfThePerSampleRatiosWithEveryMessageInOrder()
    {
        Play(*f.Line, [](sim::SignalPlay &p) { p.readings = {Reading(10, 7, 3), Reading(20, 8, 4), Reading(25, 9, 5)}; });
        const TGaugeSteps gauge(f.Window->ProgramControl->ProgressGauge());
        const QStringList seen = f.Run(f.Ui().TS3Button5, AllAccepted());
        QCOMPARE(gauge.Steps, QStringList({"1/3", "2/3", "3/3"}));
        QCOMPARE(seen, QStringList({"Начать калибровку по напряжению (диапазон 0..100 мВ)?", "Записать параметры в прибор?",
                                    "Запись параметров прибора завершена.", "Установите калибровочное напряжение!",
                                    "Калибровка по напряжению (диапазон 0..100 мВ) завершена."}));
        // (50/10 + 50/20 + 50/25) / 3, not 50 over the mean reading (2.727).
        QCOMPARE(Model(f.Device()).Ku, 19.0f / 6.0f);
        QCOMPARE(f.Ui().TS3Edit9->text(), QStringLiteral("3.167"));
        QCOMPARE(Model(f.Device()).Ki05, 1.1f);  // the others as the form had them
        QCOMPARE(AfterParameterWrite(Trace(*f.Line)), ModeCode({0x00, 0x00, 0x00, 0x3E}) + ADCReads(3) + QStringList{"13"});
        // The instrument measures with the calibration's sensor and range, and the form says so.
        const auto instrument = f.Line->instrument();
        QCOMPARE(instrument.eeprom[34 + 48] & 0x1F, 18);
        QCOMPARE(instrument.eepromFloat(34 + 4), 100.0f);
        QCOMPARE(f.Ui().TS1CB1->currentIndex(), 18);
        QCOMPARE(f.Ui().TS1Edit0->text(), QStringLiteral("0.000"));
        QCOMPARE(f.Ui().TS1Edit1->text(), QStringLiteral("100.000"));
        VerifyCleanedUp(1);
    }

    void currentsUseTheirOwnChannelModeAndSensor_data()
    {
        QTest::addColumn<bool>("twenty");
        QTest::addColumn<int>("count");
        QTest::newRow("0..5 mA, one reading") << false << 1;
        QTest::newRow("0..20 mA, a hundred noisy readings") << true << 100;
    }
    void currentsUseTheirOwnChannelModeAndSensor()
    {
        QFETCH(bool, twenty);
        QFETCH(int, count);
        SetPlan(count, 0);
        const std::vector<sim::AdcReading> readings{Reading(9, 8, 0.5f), Reading(9, 8, 0.8f), Reading(9, 8, 0.25f)};
        Play(*f.Line, [&](sim::SignalPlay &p) {
            p.readings = readings;
            p.noise = twenty ? 0.01f : 0;
        });
        // The expected channel 3 readings: the same play on an instrument of our own.
        sim::InstrumentModel scratch;
        scratch.play = std::make_shared<sim::SignalPlay>();
        scratch.play->readings = readings;
        scratch.play->noise = twenty ? 0.01f : 0;
        std::vector<double> terms;
        const double reference = twenty ? 16 : 4;
        for (int k = 0; k < count; ++k) {
            scratch.execute(5, "0");
            terms.push_back(reference / scratch.ramFloat(13));
        }
        const QStringList seen = f.Run(twenty ? f.Ui().TS3Button4 : f.Ui().TS3Button3, AllAccepted());
        QCOMPARE(seen.at(3), QStringLiteral("Установите калибровочный ток!"));
        QCOMPARE(seen.last(), twenty ? QStringLiteral("Калибровка по току (диапазон 0..20 мА) завершена.")
                                     : QStringLiteral("Калибровка по току (диапазон 0..5 мА) завершена."));
        const TCalibration c = Model(f.Device());
        QCOMPARE(Bits(twenty ? c.Ki20 : c.Ki05), Bits(Mean32(terms)));
        QCOMPARE(twenty ? c.Ki05 : c.Ki20, twenty ? 1.1f : 1.2f);
        const QStringList line = AfterParameterWrite(Trace(*f.Line));
        QCOMPARE(Count(line, QStringLiteral("5 0")), count);
        QCOMPARE(line.mid(0, 5), twenty ? ModeCode({0x3F, 0x5B, 0x3F, 0x06}) : ModeCode({0x00, 0x6D, 0x3F, 0x06}));
        QCOMPARE(f.Line->instrument().eeprom[34 + 48] & 0x1F, twenty ? 16 : 15);
        VerifyCleanedUp(1);
    }

    void zeroReadingEndsWithTheSumSoFarInTheModelOnly()
    {
        Play(*f.Line, [](sim::SignalPlay &p) { p.readings = {Reading(10, 7, 3), Reading(20, 8, 4), Reading(0, 9, 5)}; });
        const QStringList seen = f.Run(f.Ui().TS3Button5, AllAccepted());
        QCOMPARE(seen.last(), QStringLiteral("Невозможно обработать результаты измерений"));
        QCOMPARE(Model(f.Device()).Ku, 7.5f);                  // 50/10 + 50/20, not divided
        QCOMPARE(f.Ui().TS3Edit9->text(), QStringLiteral("1.300"));  // the form as it was
        QCOMPARE(Count(Trace(*f.Line), QStringLiteral("5 0")), 3);
        VerifyCleanedUp(1);
    }

    void lineAndCompensatorResistanceUseRrefAndUrefOfTheForm()
    {
        SetPlan(2, 0);
        Play(*f.Line, [](sim::SignalPlay &p) { p.readings = {Reading(5, 0.5f, 0.2f), Reading(6, 1.5f, 0.25f)}; });
        QCOMPARE(f.Run(f.Ui().TS3Button7, AllAccepted()).last(), QStringLiteral("Калибровка по RL завершена."));
        // Rref 150, Uref 2.5: mean of V2 * Rref / (Uref - V2).
        QCOMPARE(Model(f.Device()).Rl, float((0.5 * 150 / 2.0 + 1.5 * 150 / 1.0) / 2));
        QCOMPARE(f.Line->instrument().eeprom[34 + 48] & 0x1F, 20);
        QCOMPARE(AfterParameterWrite(Trace(*f.Line)), ModeCode({0x00, 0x4F, 0x38, 0x50}) + ADCReads(2) + QStringList{"13"});

        Play(*f.Line, [](sim::SignalPlay &p) { p.readings = {Reading(5, 0.5f, 0.2f), Reading(6, 1.5f, 0.25f)}; });
        f.Line->clearLog();
        QCOMPARE(f.Run(f.Ui().TS3Button8, AllAccepted()).at(3), QStringLiteral("Установите что-нибудь!"));
        QCOMPARE(Model(f.Device()).Rc, float(((0.5 - 0.2) * 150 / 2.0 + (1.5 - 0.25) * 150 / 1.0) / 2));
        QCOMPARE(f.Ui().TS3Edit13->text(), QString::number(double(Model(f.Device()).Rc), 'f', 3));
        QCOMPARE(AfterParameterWrite(Trace(*f.Line)).mid(0, 5), ModeCode({0x00, 0x3F, 0x39, 0x50}));
        QCOMPARE(f.Line->instrument().eeprom[34 + 48] & 0x1F, 10);

        // V2 equal to Uref at the second reading: the zero test.
        Play(*f.Line, [](sim::SignalPlay &p) { p.readings = {Reading(5, 0.5f, 0.2f), Reading(6, 2.5f, 0.25f)}; });
        QCOMPARE(f.Run(f.Ui().TS3Button8, AllAccepted()).last(), QStringLiteral("Невозможно обработать результаты измерений"));
        QCOMPARE(Model(f.Device()).Rc, float(0.3 * 150 / 2.0));
        VerifyCleanedUp(3);
    }

    void threeWireTakesTwoPassesAroundTheSecondPrompt()
    {
        SetPlan(2, 0);
        // Pass 1 (R1): V1 1.0, 1.2; V2 3.0, 3.4. Pass 2 (R2): V1 2.0, 2.2; V2 5.0, 5.6.
        Play(*f.Line, [](sim::SignalPlay &p) {
            p.readings = {Reading(1.0f, 3.0f, 9), Reading(1.2f, 3.4f, 9), Reading(2.0f, 5.0f, 9), Reading(2.2f, 5.6f, 9)};
        });
        TScript *script = &(new TScript)
                               ->Answer(QMessageBox::Yes)
                               .Answer(QMessageBox::Yes)
                               .Answer(QMessageBox::Ok)
                               .Answer(QMessageBox::Ok)
                               .Answer(QMessageBox::Ok)
                               .Answer(QMessageBox::Ok);
        const TGaugeSteps gauge(f.Window->ProgramControl->ProgressGauge());
        const QStringList seen = f.Run(f.Ui().TS3Button6, script);
        QCOMPARE(gauge.Steps, QStringList({"1/4", "2/4", "3/4", "4/4"}));
        QCOMPARE(seen.mid(3), QStringList({"Подключите сопротивление R1 по 3ех проводной схеме!",
                                           "Подключите сопротивление R2 по 3ех проводной схеме!",
                                           "Калибровка по сопротивлению (3ех проводная схема) завершена."}));
        const TThreeWire expected = ThreeWire({Reading(1.0f, 3.0f, 9), Reading(1.2f, 3.4f, 9)},
                                              {Reading(2.0f, 5.0f, 9), Reading(2.2f, 5.6f, 9)}, 100, 200);
        const TCalibration c = Model(f.Device());
        QCOMPARE(Bits(c.Uref), Bits(expected.Uref));
        QCOMPARE(Bits(c.Rref), Bits(expected.Rref));
        QCOMPARE(f.Ui().TS3Edit11->text(), QString::number(double(c.Uref), 'f', 3));
        const QStringList mode = ModeCode({0x00, 0x00, 0x4F, 0x50});
        QCOMPARE(AfterParameterWrite(Trace(*f.Line)), mode + ADCReads(2) + QStringList{"13"} + mode + ADCReads(2) + QStringList{"13"});
        VerifyCleanedUp(2);
    }

    // A hundred readings: each coefficient is the 32-bit sum of its terms over 32-bit N, bit
    // for bit.
    void hundredReadingsAreSummedIn32Bits_data()
    {
        QTest::addColumn<int>("member");
        const char *names[] = {"Ku", "Ki05", "Ki20", "Rl", "Rc"};
        for (int i = 0; i < 5; ++i)
            QTest::newRow(names[i]) << i;
    }
    void hundredReadingsAreSummedIn32Bits()
    {
        QFETCH(int, member);
        const TMember &m = Members[member];
        SetPlan(100, 0);
        const std::vector<sim::AdcReading> readings = Spread(0, 100);
        Play(*f.Line, [&](sim::SignalPlay &p) { p.readings = readings; });
        std::vector<double> terms;
        for (const sim::AdcReading &reading : readings)
            terms.push_back(m.Term(reading));
        QVERIFY(Bits(Mean32(terms)) != Bits(Mean64(terms)));  // the readings tell the two apart
        const TGaugeSteps gauge(f.Window->ProgramControl->ProgressGauge());
        f.Run(f.Ui().*m.Button, AllAccepted());
        QCOMPARE(Count(Trace(*f.Line), QStringLiteral("5 0")), 100);
        QCOMPARE(Bits(Model(f.Device()).*m.Coefficient), Bits(Mean32(terms)));
        QCOMPARE(gauge.Steps.size(), 100);
        QCOMPARE(gauge.Steps.last(), QStringLiteral("100/100"));
        VerifyCleanedUp(1);
    }

    void threeWireSumsEachPassIn32Bits()
    {
        SetPlan(100, 0);
        const std::vector<sim::AdcReading> first = Spread(0, 100), second = Spread(100, 100);
        Play(*f.Line, [&](sim::SignalPlay &p) {
            p.readings = first;
            p.readings.insert(p.readings.end(), second.begin(), second.end());
        });
        const TThreeWire expected = ThreeWire(first, second, 100, 200);
        const TThreeWire wide = ThreeWire(first, second, 100, 200, true);
        QVERIFY(Bits(expected.Rref) != Bits(wide.Rref));  // the readings tell the two apart
        const TGaugeSteps gauge(f.Window->ProgramControl->ProgressGauge());
        const QStringList seen = f.Run(f.Ui().TS3Button6, &(new TScript)
                                                             ->Answer(QMessageBox::Yes)
                                                             .Answer(QMessageBox::Yes)
                                                             .Answer(QMessageBox::Ok)
                                                             .Answer(QMessageBox::Ok)
                                                             .Answer(QMessageBox::Ok)
                                                             .Answer(QMessageBox::Ok));
        QCOMPARE(seen.last(), QStringLiteral("Калибровка по сопротивлению (3ех проводная схема) завершена."));
        const TCalibration c = Model(f.Device());
        QCOMPARE(Bits(c.Uref), Bits(expected.Uref));
        QCOMPARE(Bits(c.Rref), Bits(expected.Rref));
        // The gauge runs on from the first pass into the second, of 2N.
        QCOMPARE(gauge.Steps.size(), 200);
        QCOMPARE(gauge.Steps.at(99), QStringLiteral("100/200"));
        QCOMPARE(gauge.Steps.at(100), QStringLiteral("101/200"));
        QCOMPARE(gauge.Steps.last(), QStringLiteral("200/200"));
        VerifyCleanedUp(2);
    }

    // T seconds pass before each reading, the first too: from the prompt's answer to the first
    // reading and between two readings.
    void pauseComesBeforeEachReading()
    {
        SetPlan(2, 1);
        Play(*f.Line, [](sim::SignalPlay &p) { p.readings = {Reading(10, 7, 3), Reading(20, 8, 4)}; });
        const TGaugeSteps gauge(f.Window->ProgramControl->ProgressGauge());
        // The moment the prompt was answered: its box is hidden then.
        qint64 promptAnswered = -1;
        TPromptAnswered answered(QStringLiteral("Установите калибровочное напряжение!"), [&] {
            promptAnswered = gauge.Clock.elapsed();
        });
        QCOMPARE(f.Run(f.Ui().TS3Button5, AllAccepted()).last(),
                 QStringLiteral("Калибровка по напряжению (диапазон 0..100 мВ) завершена."));
        QCOMPARE(gauge.Steps, QStringList({"1/2", "2/2"}));
        QVERIFY(promptAnswered >= 0);
        QVERIFY2(gauge.Shown.at(0) - promptAnswered >= 1000, qPrintable(QString::number(gauge.Shown.at(0) - promptAnswered)));
        QVERIFY2(gauge.Shown.at(1) - gauge.Shown.at(0) >= 1000,
                 qPrintable(QString::number(gauge.Shown.at(1) - gauge.Shown.at(0))));
        QCOMPARE(Model(f.Device()).Ku, 3.75f);
        VerifyCleanedUp(1);
    }

    void threeWireResultsThatCannotBeProcessedLeaveUrefAndRref()
    {
        SetPlan(1, 0);
        // B1 = 2 A1 in the first pass.
        Play(*f.Line, [](sim::SignalPlay &p) { p.readings = {Reading(1.5f, 3.0f, 9), Reading(2.0f, 5.0f, 9)}; });
        TScript *script = &(new TScript)
                               ->Answer(QMessageBox::Yes)
                               .Answer(QMessageBox::No)  // the parameter write declined: goes on
                               .Answer(QMessageBox::Ok)
                               .Answer(QMessageBox::Ok)
                               .Answer(QMessageBox::Ok);
        const QStringList seen = f.Run(f.Ui().TS3Button6, script);
        QCOMPARE(seen.last(), QStringLiteral("Невозможно обработать результаты измерений."));
        QCOMPARE(Model(f.Device()).Uref, 2.5f);
        QCOMPARE(Model(f.Device()).Rref, 150.0f);
        QCOMPARE(Count(Trace(*f.Line), QStringLiteral("5 0")), 2);
        VerifyCleanedUp(2);
    }

    void cancellingTheSecondPromptEndsSilently()
    {
        SetPlan(2, 0);
        Play(*f.Line, [](sim::SignalPlay &p) { p.readings = {Reading(1.0f, 3.0f, 9)}; });
        TScript *script = &(new TScript)
                               ->Answer(QMessageBox::Yes)
                               .Answer(QMessageBox::Yes)
                               .Answer(QMessageBox::Ok)
                               .Answer(QMessageBox::Ok)
                               .Answer(QMessageBox::Cancel);
        const QStringList seen = f.Run(f.Ui().TS3Button6, script);
        QCOMPARE(seen.size(), 5);
        QCOMPARE(seen.last(), QStringLiteral("Подключите сопротивление R2 по 3ех проводной схеме!"));
        QCOMPARE(Model(f.Device()).Uref, 2.5f);
        QCOMPARE(Model(f.Device()).Rref, 150.0f);
        QCOMPARE(Count(Trace(*f.Line), QStringLiteral("5 0")), 2);
        VerifyCleanedUp(2);
    }

    void declinedQuestionOrCancelledPromptTouchesNothingOnTheLine()
    {
        const QStringList seen = f.Run(f.Ui().TS3Button5, &(new TScript)->Answer(QMessageBox::No));
        QCOMPARE(seen, QStringList{"Начать калибровку по напряжению (диапазон 0..100 мВ)?"});
        QVERIFY(f.Line->log().empty());
        QCOMPARE(f.Ui().TS1CB1->currentIndex() == 18, false);
        VerifyCleanedUp(0);

        // With confirmations off the question is skipped, the prompt still asked.
        f.Ui().M1N3->setChecked(false);
        f.Ui().M1N1->setChecked(false);
        const QStringList prompt = f.Run(f.Ui().TS3Button7, &(new TScript)->Answer(QMessageBox::Cancel));
        QCOMPARE(prompt, QStringList{"Закоротите линию!"});
        QCOMPARE(Count(Trace(*f.Line), QStringLiteral("5 0")), 0);
        QCOMPARE(f.Ui().TS1CB1->currentIndex(), 20);  // the parameter write ran without its question
        QCOMPARE(f.Line->instrument().eeprom[34 + 48] & 0x1F, 20);
        VerifyCleanedUp(0);
    }

    void referenceThatIsNoNumberIsNamedAndNothingIsRead()
    {
        f.Ui().TS3Edit4->setText(QStringLiteral("-"));
        const QStringList seen = f.Run(f.Ui().TS3Button6, &(new TScript)
                                                             ->Answer(QMessageBox::Yes)
                                                             .Answer(QMessageBox::Yes)
                                                             .Answer(QMessageBox::Ok)
                                                             .Answer(QMessageBox::Ok));
        QCOMPARE(seen.last(), QStringLiteral("Вкладка \"Калибровка\", группа \"Калибровка параметров\", "
                                             "поле \"Сопротивление 2\": \"-\" не является числом"));
        QCOMPARE(Count(Trace(*f.Line), QStringLiteral("5 0")), 0);
        VerifyCleanedUp(0);
    }

    void referenceOfASingleCoefficientIsReadAtEachReadingAfterTheZeroTest()
    {
        // A zero reading is told before the bad field is looked at.
        f.Ui().TS3Edit2->setText(QStringLiteral("-"));
        Play(*f.Line, [](sim::SignalPlay &p) { p.readings = {Reading(0, 7, 3)}; });
        QCOMPARE(f.Run(f.Ui().TS3Button5, AllAccepted()).last(), QStringLiteral("Невозможно обработать результаты измерений"));
        VerifyCleanedUp(1);

        // A good reading: the prompt, the mode code and one reading come first, then the field.
        Play(*f.Line, [](sim::SignalPlay &p) { p.readings = {Reading(10, 7, 3), Reading(20, 8, 4)}; });
        f.Line->clearLog();
        const QStringList seen = f.Run(f.Ui().TS3Button5, AllAccepted());
        QCOMPARE(seen.mid(3), QStringList({"Установите калибровочное напряжение!",
                                           "Вкладка \"Калибровка\", группа \"Калибровка параметров\", "
                                           "поле \"Напряжение 0..100 мВ\": \"-\" не является числом"}));
        QCOMPARE(AfterParameterWrite(Trace(*f.Line)), ModeCode({0x00, 0x00, 0x00, 0x3E}) + ADCReads(1) + QStringList{"13"});
        QCOMPARE(f.Ui().TS3Edit9->text(), QStringLiteral("1.300"));
        VerifyCleanedUp(2);
    }

    void linkFailureAtTheSecondReadingShowsTheLinkError()
    {
        Play(*f.Line, [](sim::SignalPlay &p) {
            p.readings = {Reading(10, 7, 3), Reading(20, 8, 4)};
            p.failures = {{6, "", 17 + 5, 1}};  // a byte of the second ADC read
        });
        const QStringList seen = f.Run(f.Ui().TS3Button5, AllAccepted());
        QCOMPARE(seen.size(), 5);
        QCOMPARE(seen.last(), f.Device().GetErrorText(-10));
        QCOMPARE(Model(f.Device()).Ku, 5.0f);
        QCOMPARE(f.Ui().TS3Edit9->text(), QStringLiteral("1.300"));
        VerifyCleanedUp(1);
    }
};

int main(int argc, char **argv)
{
    return transfers::RunIsolated<TestCalibration>(argc, argv);
}

#include "tst_calibration.moc"
