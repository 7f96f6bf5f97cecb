// The model on the form and back: the bit fields, the lists, the sliders' limits, the relay
// reaction bytes, the three-decimal floats, and a field that cannot be read.
#include <cfloat>
#include "tests/support/setup_window_fixture.h"

#include "device_u.h"
#include "platform/profile.h"
#include "prjctrl_u.h"

#include <QTemporaryDir>

#include <cfloat>

using namespace fixture;

class TestModelForm : public QObject {
    Q_OBJECT
    std::unique_ptr<TfMain> window;

    TDevice &Device() { return *window->Device; }
    Ui::TfMain &Ui() { return *window->ui; }

    // Shows a parameter block whose fields are set by change, and takes it back.
    TParams RoundTrip(const std::function<void(TParams &)> &change)
    {
        TParams p = TParams::FromBytes(Device().ParamsBlock);
        change(p);
        p.ToBytes(Device().ParamsBlock);
        Device().ShowParams();
        Device().TakeParams();
        return TParams::FromBytes(Device().ParamsBlock);
    }

private slots:
    void init()
    {
        RemoveSettings();
        window = std::make_unique<TfMain>();
        window->ProjectControl->SetState(psSaved);
        // A valid block to start from: every list has a selection, brightness within limits.
        RoundTrip([](TParams &p) {
            p.SensorSetup = 6;
            p.OutputSetup = 0x10;
            p.IndicatorBrightness = 0x11;
            p.LinkDisplaySetup = 5;
            p.AveragingCount = 1;
        });
    }
    void cleanup()
    {
        window.reset();
        RemoveSettings();
    }

    void bitFieldsShowAndPackBack()
    {
        TParams p = RoundTrip([](TParams &p) { p.SensorSetup = 0xE3; });
        QCOMPARE(Ui().TS1CB1->currentText(), QStringLiteral("CU63"));
        QVERIFY(Ui().TS1ChB0->isChecked() && Ui().TS1RB1->isChecked() && Ui().TS1ChB1->isChecked());
        QCOMPARE(p.SensorSetup, 0xE3);

        p = RoundTrip([](TParams &p) { p.OutputSetup = 0x2B; });  // bit 3 is not kept
        QVERIFY(Ui().TS1ChB2->isChecked());
        QCOMPARE(Ui().TS1CB2->currentIndex(), 1);
        QCOMPARE(Ui().TS1S0->value(), 2);
        QCOMPARE(p.OutputSetup, 0x23);

        p = RoundTrip([](TParams &p) { p.LinkDisplaySetup = 0xEE; });  // 19200, setpoint 2, 3 decimals
        QCOMPARE(Ui().TS1CB0->currentText(), QStringLiteral("19200"));
        QCOMPARE(Ui().TS1CB3->currentIndex(), 2);
        QCOMPARE(Ui().TS1SE2->value(), 3);
        QCOMPARE(p.LinkDisplaySetup, 0xE6);

        p = RoundTrip([](TParams &p) { p.NetworkAddress = 254; p.Password = 65535; p.PasswordConfirm = 1234; });
        QCOMPARE(Ui().TS1CE0->value(), 65535.0);
        QCOMPARE(p.NetworkAddress, 254);
        QCOMPARE(p.Password, 65535);
        QCOMPARE(p.PasswordConfirm, 1234);
    }

    void codesWithoutAListItemAreKept()
    {
        const TParams p = RoundTrip([](TParams &p) {
            p.SensorSetup = 0x20 | 25;
            p.OutputSetup = 0x10 | (3 << 1);
            p.LinkDisplaySetup = 0x07;
        });
        QCOMPARE(Ui().TS1CB1->currentIndex(), -1);
        QCOMPARE(Ui().TS1CB2->currentIndex(), -1);
        QCOMPARE(Ui().TS1CB0->currentIndex(), -1);
        QCOMPARE(p.SensorSetup, 0x20 | 25);
        QCOMPARE(p.OutputSetup, 0x10 | (3 << 1));
        QCOMPARE(p.LinkDisplaySetup, 0x07);
    }

    void controlRangesLimitWhatIsTakenBack()
    {
        // Two different nibbles: the low one on TS1S1, the high one on TS1S2.
        TParams q = RoundTrip([](TParams &p) { p.OutputSetup = 0x10; p.IndicatorBrightness = 0x32; });
        QCOMPARE(Ui().TS1S1->value(), 2);
        QCOMPARE(Ui().TS1S2->value(), 3);
        QCOMPARE(Ui().TS1L1->text(), QStringLiteral("2"));
        QCOMPARE(Ui().TS1L2->text(), QStringLiteral("3"));
        QCOMPARE(q.IndicatorBrightness, 0x32);

        TParams p = RoundTrip([](TParams &p) { p.AveragingCount = 0; p.IndicatorBrightness = 0x00; });
        QCOMPARE(p.AveragingCount, 1);
        QCOMPARE(p.IndicatorBrightness, 0x11);
        // More than 25 together: the sliders are brought down one after the other.
        p = RoundTrip([](TParams &p) { p.OutputSetup = 0xF0; p.IndicatorBrightness = 0xFF; });
        QCOMPARE(Ui().TS1S0->value() + Ui().TS1S1->value() + Ui().TS1S2->value(), 25);
        QCOMPARE(Ui().TS1L1->text(), QString::number(Ui().TS1S1->value()));
        QCOMPARE(p.OutputSetup >> 4, Ui().TS1S0->value());
        QCOMPARE(p.IndicatorBrightness, std::uint8_t(Ui().TS1S1->value() + 16 * Ui().TS1S2->value()));
    }

    void relayReactionBytes()
    {
        TParams p = RoundTrip([](TParams &p) { p.Relay1Reaction = 0x96; p.Relay2Reaction = 0; p.Relay3Reaction = 0x40; });
        QCOMPARE(Ui().TS2Image1_1->property("Tag").toInt(), 2);
        QCOMPARE(Ui().TS2Image1_2->property("Tag").toInt(), 1);
        QCOMPARE(Ui().TS2Image1_3->property("Tag").toInt(), 1);
        QCOMPARE(Ui().TS2Image1_4->property("Tag").toInt(), 0);
        QCOMPARE(Ui().TS2Image1_0->toolTip(), QStringLiteral("Реле используется"));
        QCOMPARE(Ui().TS2Image2_0->toolTip(), QStringLiteral("Реле не используется"));
        QCOMPARE(Ui().TS2Image3_4->toolTip(), QStringLiteral("Реле срабатывает при обрыве датчика"));
        QCOMPARE(Ui().TS2Image3_0->toolTip(), QStringLiteral("Реле используется"));  // by the break cell alone
        QCOMPARE(p.Relay1Reaction, 0x16);
        QCOMPARE(p.Relay3Reaction, 0x40);
        // A setpoint field holding 3 has no picture: the cell keeps its mode.
        p = RoundTrip([](TParams &p) { p.Relay1Reaction = 0x03 | (2 << 2); });
        QCOMPARE(Ui().TS2Image1_1->property("Tag").toInt(), 2);
        QCOMPARE(p.Relay1Reaction, 0x02 | (2 << 2));
    }

    void floatsTravelWithThreeDecimals()
    {
        TCalibration c{};
        c.Ki05 = 0.01234f;
        c.Rref = -1.0005f;
        c.Uref = 1e20f;
        c.ToBytes(Device().CalibBlock);
        TParams p = TParams::FromBytes(Device().ParamsBlock);
        p.InputRangeHigh = 1e20f;
        p.ToBytes(Device().ParamsBlock);
        Device().ShowParams();
        QCOMPARE(Ui().TS3Edit7->text(), QStringLiteral("0.012"));
        QCOMPARE(Ui().TS3Edit13->text(), QStringLiteral("0.000"));
        QCOMPARE(Ui().TS1Edit1->text(), QStringLiteral("1.00000002004088E20"));
        // The coefficient boxes hold 15 characters: a shorter form that still gives the float.
        QCOMPARE(Ui().TS3Edit11->text(), QStringLiteral("1.00000002E20"));
        Device().TakeParams();
        c = TCalibration::FromBytes(Device().CalibBlock);
        QCOMPARE(c.Ki05, 0.012f);
        QCOMPARE(c.Uref, 1e20f);
        QCOMPARE(TParams::FromBytes(Device().ParamsBlock).InputRangeHigh, 1e20f);
    }

    // The largest floats, as the form and the calibration files show them, travel back; a
    // text just beyond what rounds to a float does not.
    void largestFloatsTravelBack()
    {
        TCalibration c{};
        c.Ki05 = FLT_MAX;
        c.Rc = -FLT_MAX;
        c.ToBytes(Device().CalibBlock);
        TParams p = TParams::FromBytes(Device().ParamsBlock);
        p.InputRangeLow = -FLT_MAX;
        p.Setpoint2 = FLT_MAX;
        p.ToBytes(Device().ParamsBlock);
        Device().ShowParams();
        QCOMPARE(Ui().TS3Edit7->text(), QStringLiteral("3.40282347E38"));
        Ui().TS3Edit7->setText(QStringLiteral("3.40282347E38"));
        Ui().TS3Edit13->setText(QStringLiteral("-3.4028235E38"));
        Ui().TS2Edit2->setText(QStringLiteral("3.402823567797336E38"));
        Device().TakeParams();
        c = TCalibration::FromBytes(Device().CalibBlock);
        QCOMPARE(c.Ki05, FLT_MAX);
        QCOMPARE(c.Rc, -FLT_MAX);
        p = TParams::FromBytes(Device().ParamsBlock);
        QCOMPARE(p.InputRangeLow, -FLT_MAX);
        QCOMPARE(p.Setpoint2, FLT_MAX);
        for (const char *beyond : {"3.40282357E38", "-340282356779733661637539395458142568448", "1e39"}) {
            Ui().TS2Edit2->setText(QLatin1String(beyond));
            QVERIFY_THROWS_EXCEPTION(TConvertError, Device().TakeParams());
        }

        // A calibration file holds them with 15 digits, just above the largest float.
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("max.clb"));
        TDevice::WriteCalibrationFile(file, c);
        const TCalibration back = TDevice::ReadCalibrationFile(file);
        QCOMPARE(back.Ki05, FLT_MAX);
        QCOMPARE(back.Rc, -FLT_MAX);
        platform::ProfileFile(file).writeString(QStringLiteral("CALIBRATION"), QStringLiteral("Ku"), QStringLiteral("3.5E38"));
        QCOMPARE(TDevice::ReadCalibrationFile(file).Ku, 0.0f);
    }

    void unreadableFieldStopsTheTakeThere()
    {
        Ui().TS1Edit0->setText(QStringLiteral("7.5"));
        Ui().TS2Edit3->setText(QString());
        Ui().TS2Edit4->setText(QStringLiteral("8"));
        Ui().TS3Edit7->setText(QStringLiteral("9"));
        try {
            Device().TakeParams();
            QFAIL("no conversion error");
        } catch (const TConvertError &e) {
            // The message names the field where the user sees it, and that field is shown.
            QCOMPARE(e.Message(), QStringLiteral("Вкладка \"Параметры уставок и реле\", группа \"Уставка №2\", "
                                                 "поле \"Гистерезис\": \"\" не является числом"));
        }
        QCOMPARE(Ui().PC0->currentWidget(), Ui().TS2);
        QCOMPARE(Ui().TS2Edit3->window()->focusWidget(), Ui().TS2Edit3);
        const TParams p = TParams::FromBytes(Device().ParamsBlock);
        QCOMPARE(p.InputRangeLow, 7.5f);   // taken before the empty box
        QCOMPARE(p.Setpoint3, 0.0f);       // after it: as it was
        QCOMPARE(TCalibration::FromBytes(Device().CalibBlock).Ki05, 0.0f);
        Ui().TS2Edit3->setText(QStringLiteral("1E-3"));
        // Not numbers, and numbers too large for the instrument's floats: told apart.
        const std::pair<const char *, TConvertError::TKind> bad[] = {
            {"NAN", TConvertError::Float}, {"1,5", TConvertError::Float}, {"--1", TConvertError::Float},
            {".", TConvertError::Float}, {"1e39", TConvertError::FloatRange},
            {"-1e99", TConvertError::FloatRange}, {"1e999", TConvertError::FloatRange},
            {"3.4028236E38", TConvertError::FloatRange}};
        for (const auto &[text, kind] : bad) {
            Ui().PC0->setCurrentWidget(Ui().TS0);
            Ui().TS1Edit1->setText(QLatin1String(text));
            try {
                Device().TakeParams();
                QFAIL(text);
            } catch (const TConvertError &e) {
                QCOMPARE(e.Kind(), kind);
                QVERIFY2(e.Message().startsWith(QStringLiteral("Вкладка \"Параметры прибора\", группа \"Вход и выход\", "
                                                               "поле \"Диапазон I,U\": ")), qPrintable(e.Message()));
                if (kind == TConvertError::FloatRange)
                    QVERIFY(e.Message().contains(QStringLiteral("слишком велико")));
            }
            QCOMPARE(Ui().PC0->currentWidget(), Ui().TS1);
        }
        // Every text that rounds to a finite float is taken, the largest floats included.
        const std::pair<const char *, float> good[] = {
            {" +1.5e2 ", 150.0f}, {"-.5", -0.5f}, {"3.", 3.0f}, {"1E-3", 0.001f},
            {"3.40282347E38", FLT_MAX}, {"-3.40282347E38", -FLT_MAX}, {"3.4028235E38", FLT_MAX}};
        for (const auto &[text, value] : good) {
            Ui().TS1Edit1->setText(QLatin1String(text));
            Device().TakeParams();
            QCOMPARE(TParams::FromBytes(Device().ParamsBlock).InputRangeHigh, value);
        }
        QCOMPARE(TParams::FromBytes(Device().ParamsBlock).Hysteresis2, 0.001f);
    }
};

int main(int argc, char **argv)
{
    return Run<TestModelForm>(argc, argv);
}

#include "tst_model_form.moc"
