// What project and calibration files hold, byte for byte, and how the window reads them: the
// keys of "Project Settings" with their defaults and ranges, the section "Device" (damaged
// values too), files written on Windows, the calibration files' number form, and the masks as
// the window shows them.
#include "tests/support/setup_project_fixture.h"

#include <QCheckBox>
#include <QRegularExpression>

using namespace project;

namespace {

template <std::size_t N>
QString Hex(const std::array<std::uint8_t, N> &bytes)
{
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(bytes.data()), N).toHex().toUpper());
}

// A parameter block and a calibration block that the form shows and takes back unchanged.
QString ParamsHex()
{
    TParams p;
    p.InputRangeHigh = 100, p.CurrentRangeLow = 4, p.CurrentRangeHigh = 20;
    p.Setpoint1 = 10.5f, p.Hysteresis1 = 0.5f, p.Relay1Reaction = 0x15;
    p.Setpoint2 = 20, p.Hysteresis2 = 1, p.Relay2Reaction = 0x00;
    p.Setpoint3 = 30, p.Hysteresis3 = 1.5f, p.Relay3Reaction = 0x6A;
    p.NetworkAddress = 1, p.Password = 1234, p.PasswordConfirm = 1234, p.SensorSetup = 0x23;
    p.AveragingCount = 10, p.OutputSetup = 0x53, p.IndicatorBrightness = 0x55, p.LinkDisplaySetup = 0x95;
    std::array<std::uint8_t, TParams::Size> bytes{};
    p.ToBytes(bytes);
    return Hex(bytes);
}

QString CalibHex()
{
    std::array<std::uint8_t, TCalibration::Size> bytes{};
    TCalibration{100, 1.25f, 0, 1, 0.5f, 2, 0.75f}.ToBytes(bytes);
    return Hex(bytes);
}

// The text of a control as the test compares it.
QString ControlText(QWidget *w)
{
    if (auto *spin = qobject_cast<QSpinBox *>(w))
        return QString::number(spin->value());
    if (auto *box = qobject_cast<QComboBox *>(w))
        return box->currentText();
    if (auto *check = qobject_cast<QCheckBox *>(w))
        return check->isChecked() ? "1" : "0";
    if (auto *tabs = qobject_cast<QTabWidget *>(w))
        return QString::number(tabs->currentIndex());
    return qobject_cast<QLineEdit *>(w)->text();
}

} // namespace

class TestProjectFiles : public QObject, TProjectWindow {
    Q_OBJECT

    // Opens a project file of these lines; returns what the window showed.
    QStringList Open(const QStringList &lines, const char *firstArgument = "")
    {
        if (!window)
            MakeWindow(firstArgument);
        if (!QTest::qVerify(putFile(Path("p.prj"), WindowsText(lines)), "putFile", "", __FILE__, __LINE__))
            return {};
        TScript script;
        script.Choose(Path("p.prj")).Answer(QMessageBox::Ok);
        pc->OpenProject();
        return script.Seen().mid(1);
    }
    QWidget *Control(const QString &name) const { return window->findChild<QWidget *>(name); }

private slots:
    void init()
    {
        Ports = {"COM1", "COM2", "COM3", "COM4"};  // a machine with four on-board ports
        dir = std::make_unique<QTemporaryDir>();
        UseSaveDir(dir->path());
    }
    void cleanup()
    {
        window.reset();
        fixture::SetFirstArgument("");
        fixture::RemoveSettings();
    }

    void settingsDefaultsAndRanges_data()
    {
        QTest::addColumn<QString>("argument");
        QTest::addColumn<QStringList>("lines");  // of section "Project Settings"
        QTest::addColumn<QString>("control");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("written");    // the key's line after a save; empty: not checked

        using L = QStringList;
        QTest::newRow("defaults port") << "" << L{} << "TS0CB0" << "COM1" << "COMPortName=COM1";
        QTest::newRow("defaults last address") << "" << L{} << "TS0SE2" << "255" << "COMSeekMaxDeviceAddress=255";
        QTest::newRow("defaults reference") << "" << L{} << "TS3Edit2" << "0" << "ClbdKu=0";
        QTest::newRow("OTKMiddling1 absent") << "" << L{} << "TS4SE0" << "1" << "OTKMiddling1=1";
        QTest::newRow("OTKMiddling1 0") << "" << L{"OTKMiddling1=0"} << "TS4SE0" << "1" << "OTKMiddling1=1";
        QTest::newRow("ClbInterval over") << "" << L{"ClbInterval=1000"} << "TS3SE1" << "600" << "ClbInterval=600";
        QTest::newRow("hexadecimal 0x") << "" << L{"COMDeviceAddress=0x1F"} << "TS0SE0" << "31" << "COMDeviceAddress=31";
        QTest::newRow("no integer") << "" << L{"DifferDecPoints2=three"} << "TS5SE1" << "3" << "";
        QTest::newRow("port case") << "" << L{"COMPortName=com3"} << "TS0CB0" << "COM3" << "COMPortName=COM3";
        // A port that is not present stays shown and saved under its name.
        QTest::newRow("port unknown") << "" << L{"COMSeekPortName=COM99"} << "TS0CB2" << "COM99" << "COMSeekPortName=COM99";
        QTest::newRow("baud unknown") << "" << L{"COMPortBaudRate=7"} << "TS0CB1" << "" << "COMPortBaudRate=";
        QTest::newRow("boolean 0") << "" << L{"ReleTestRele3=0"} << "TS2ChB2" << "0" << "ReleTestRele3=0";
        QTest::newRow("boolean 5") << "" << L{"ReleTestRele3=5"} << "TS2ChB2" << "1" << "ReleTestRele3=1";
        QTest::newRow("text kept") << "" << L{"ClbdRref=сто"} << "TS3Edit3" << "сто" << "ClbdRref=сто";
        QTest::newRow("sensor presets range") << "" << L{"OTKSensorType=2", "OTKIUMin=7"} << "TS4Edit0" << "4" << "OTKIUMin=4";
        QTest::newRow("no sensor keeps range") << "" << L{"OTKSensorType=8", "OTKIUMax=7"} << "TS4Edit1" << "7" << "OTKSensorType=-1";
        QTest::newRow("page internal") << "/INT" << L{"ActivePageIndex=3"} << "PC0" << "3" << "ActivePageIndex=3";
        QTest::newRow("page hidden") << "" << L{"ActivePageIndex=3"} << "PC0" << "0" << "";
        QTest::newRow("page over") << "" << L{"ActivePageIndex=9"} << "PC0" << "0" << "ActivePageIndex=0";
    }
    void settingsDefaultsAndRanges()
    {
        QFETCH(QString, argument);
        QFETCH(QStringList, lines);
        QFETCH(QString, control);
        QFETCH(QString, shown);
        QFETCH(QString, written);
        lines.prepend("[Project Settings]");
        QCOMPARE(Open(lines, argument.toLatin1().constData()), QStringList{QString(TProjectControl::ReadWarning)});
        QCOMPARE(ControlText(Control(control)), shown);
        // Opening passed through the change handling; the project is saved all the same.
        QCOMPARE(int(pc->State()), int(psSaved));
        if (written.isEmpty())
            return;
        TScript script;
        script.Answer(QMessageBox::Yes);
        pc->SaveProject();
        QVERIFY(fileBytes(Path("p.prj")).contains(platform::toCp1251(written + "\r\n")));
    }

    void windowsFileOpensAndSavesUnchanged()
    {
        // As the program writes it on Windows, with a section of another program and
        // letter cases of its own in the names.
        const QStringList lines{
            "[project settings]", "ActivePageIndex=1", "COMPortName=COM2", "COMPortBaudRate=19200",
            "COMDeviceAddress=1", "COMSeekPortName=COM1", "COMSeekPortBaudRate=9600", "COMSeekMinDeviceAddress=0",
            "COMSeekMaxDeviceAddress=32", "ReleTestRele1=1", "ReleTestRele2=0", "ReleTestRele3=1",
            "ClbdKi05=5", "ClbdKi20=20", "ClbdKu=100", "ClbdRref=99.95", "ClbdUref=200.1", "ClbMiddling=10",
            "ClbInterval=2", "ClbDecPoints=3", "OTKSensorType=2", "OTKMiddling1=5", "OTKIUMin=4", "OTKIUMax=20",
            "OTKIMin=0", "OTKIMax=5", "OTKMiddling2=6", "OTKDecPoints=2", "DifferDecPoints1=3",
            "DifferDecPoints2=1", "", "[Заметки]", "Прибор=№ 17 на щите", "", "[Device]",
            "crc=0102A1B20000", "CalibCoefs=" + CalibHex(), "Params=" + ParamsHex(),
            "ADC=" + QString(34, QLatin1Char('7'))};
        QCOMPARE(Open(lines), QStringList{QString(TProjectControl::ReadWarning)});
        QCOMPARE(window->ui->PC0->currentIndex(), 1);
        QCOMPARE(window->ui->TS3Edit10->text(), QStringLiteral("100.000"));
        QCOMPARE(window->ui->TS2Edit0->text(), QStringLiteral("10.500"));
        QCOMPARE(window->Device->DeviceAddress, 1);
        const QByteArray before = fileBytes(Path("p.prj"));
        TScript script;
        script.Answer(QMessageBox::Yes);
        pc->SaveProject();
        QCOMPARE(script.Seen(), QStringList{QString(TProjectControl::SaveAgainQuestion).replace('\r', '\n')});
        QCOMPARE(fileBytes(Path("p.prj")), before);
    }

    void newProjectSavedAsWritesBothSections()
    {
        MakeWindow();
        QVERIFY(putFile(Path("old.prj"), WindowsText({"[Other]", "Key=Value", "[Project Settings]", "COMDeviceAddress=99",
                                                "Extra=1", "[Device]", "CRC=FFFFFFFFFFFF"})));
        TScript script;
        script.Answer(QMessageBox::Ok).Choose(Path("old.prj"));
        pc->NewProject();
        pc->SaveProjectAs();
        QString params;
        window->Device->BlockToHex(TDevice::ParamsBlockType, params);
        QCOMPARE(params.size(), 106);
        QCOMPARE(fileBytes(Path("old.prj")),
                 WindowsText({"[Other]", "Key=Value", "[Project Settings]", "COMDeviceAddress=0", "Extra=1",
                              "ActivePageIndex=0", "COMPortName=COM1", "COMPortBaudRate=9600", "COMSeekPortName=COM1",
                              "COMSeekPortBaudRate=9600", "COMSeekMinDeviceAddress=0", "COMSeekMaxDeviceAddress=255",
                              "ReleTestRele1=1", "ReleTestRele2=1", "ReleTestRele3=1", "ClbdKi05=0", "ClbdKi20=0",
                              "ClbdKu=0", "ClbdRref=0", "ClbdUref=0", "ClbMiddling=6", "ClbInterval=2",
                              "ClbDecPoints=3", "OTKSensorType=0", "OTKMiddling1=1", "OTKIUMin=0", "OTKIUMax=5",
                              "OTKIMin=0", "OTKIMax=0", "OTKMiddling2=6", "OTKDecPoints=3", "DifferDecPoints1=3",
                              "DifferDecPoints2=3", "[Device]", "CRC=000000000000", "CalibCoefs=" + QString(56, '0'),
                              "Params=" + params, "ADC=" + QString(34, '0')}));
    }

    void damagedDeviceSection_data()
    {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("loaded");  // blocks taken from the file
        QTest::newRow("short params") << "Params=" + ParamsHex().left(105) << "Значение неверной длины." << 2;
        QTest::newRow("crc too long") << "CRC=" + QString(300, '1') << "Значение неверной длины." << 0;
        QTest::newRow("not hexadecimal") << "Params=ZZ" + ParamsHex().mid(2)
                                         << "\"ZZ\" не является шестнадцатеричным числом" << 2;
    }
    void damagedDeviceSection()
    {
        QFETCH(QString, line);
        QFETCH(QString, damage);
        QFETCH(int, loaded);
        MakeWindow();
        TDevice &device = *window->Device;
        for (int type = 0; type < 4; ++type)
            device.ClearBlock(type);
        device.HexToBlock(TDevice::ParamsBlockType, ParamsHex());
        device.ShowParams();
        pc->ResetProject();  // showing marked it modified
        const QString shownBefore = window->ui->TS3Edit10->text();
        QStringList lines{"[Project Settings]", "COMDeviceAddress=7", "[Device]", "CRC=0A0B0C0D0E0F",
                          "CalibCoefs=" + CalibHex().toLower(), "Params=" + QString(106, 'F')};
        lines.replaceInStrings(QRegularExpression("^" + line.section('=', 0, 0) + "=.*"), line);
        const QStringList seen = Open(lines);
        QCOMPARE(seen.size(), 1);
        QVERIFY2(seen[0].endsWith(damage), qPrintable(seen[0]));
        QCOMPARE(int(pc->State()), int(psModified));
        QCOMPARE(window->ui->TS0SE0->value(), 7);           // the settings are on the form
        QCOMPARE(window->ui->TS3Edit10->text(), shownBefore);  // the blocks are not
        QString crc, calib, params;
        device.BlockToHex(TDevice::CRCBlockType, crc);
        device.BlockToHex(TDevice::CalibBlockType, calib);
        device.BlockToHex(TDevice::ParamsBlockType, params);
        QCOMPARE(crc, loaded > 0 ? QString("0A0B0C0D0E0F") : QString(12, '0'));
        QCOMPARE(calib, loaded > 1 ? CalibHex() : QString(56, '0'));
        QCOMPARE(params, ParamsHex());
    }

    void portListsFromThePortsPresent()
    {
        QVERIFY(putFile(Path("ttyDEMO"), {}));
        qputenv("EX_COM_EXTRA_PORTS", Path("ttyDEMO").toUtf8());
        window = std::make_unique<TfMain>();
        window->BuildSheets();  // the lists are filled with the sheets
        qunsetenv("EX_COM_EXTRA_PORTS");
        for (QComboBox *list : {window->ui->TS0CB0, window->ui->TS0CB2})
            QCOMPARE(list->currentText(), Path("ttyDEMO"));
        QCOMPARE(window->ui->TS0CB1->currentText(), QStringLiteral("9600"));
        QCOMPARE(window->LinkPortText(), Path("ttyDEMO"));
        QCOMPARE(int(window->ProjectControl->State()), int(psNone));
    }

    void masksAsTheWindowShowsThem()
    {
        MakeWindow();
        Ui::TfMain &ui = *window->ui;
        // No project: the tabs hidden, only new, open, exit and help.
        QVERIFY(!ui.PC0->isVisible() && ui.M0N1->isEnabled() && ui.TB2->isEnabled());
        QVERIFY(!ui.M0N3->isEnabled() && !ui.M0N4->isEnabled() && !ui.TB4->isEnabled() && !ui.M1N1->isEnabled());
        // External: no calibration tab, device menu or device buttons.
        TScript script;
        script.Answer(QMessageBox::Ok);
        pc->NewProject();
        QVERIFY(ui.PC0->isVisible() && !ui.PC0->isTabVisible(3) && !ui.M2->menuAction()->isVisible());
        QVERIFY(!ui.TB5->isVisible() && ui.M0N3->isEnabled() && ui.TS0Button1->isEnabled());
        // Admin shows them; a saved project disables save alone.
        window->ProgramControl->SetMode(Admin);
        QVERIFY(ui.PC0->isTabVisible(3) && ui.M2->menuAction()->isVisible() && ui.TB5->isVisible());
        pc->SetState(psSaved);
        QVERIFY(!ui.M0N3->isEnabled() && !ui.TB3->isEnabled() && ui.M0N4->isEnabled() && ui.TB4->isEnabled());
        // An exchange: a running search keeps its stop button and the list enabled.
        window->ProgramControl->AccessMasks().SetAlwaysEnabled(214, true);
        window->ProgramControl->SetExchangeState(Exchanging);
        QVERIFY(ui.TS0Button2->isEnabled() && ui.TS0LB0->isEnabled() && ui.TS0GB1->isEnabled());
        QVERIFY(!ui.TS0Button1->isEnabled() && !ui.TS0CB2->isEnabled() && !ui.M0N1->isEnabled() && ui.M0N9->isEnabled());
        QVERIFY(!ui.TS3Button11->isEnabled() && ui.TS4Button2->isEnabled() && !ui.M1N4->isEnabled());
        window->ProgramControl->AccessMasks().SetAlwaysEnabled(214, false);
        window->ProgramControl->SetExchangeState(Idle);
        QVERIFY(ui.TS0Button1->isEnabled() && ui.TS0Button2->isEnabled());
    }

    void calibrationNumberForms_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        QTest::newRow("0.1 as float") << double(0.1f) << "0.100000001490116";
        QTest::newRow("zero") << 0.0 << "0";
        QTest::newRow("negative") << -2.5 << "-2.5";
        QTest::newRow("small") << 0.000001 << "1E-6";
        QTest::newRow("small float") << double(1e-6f) << "9.99999997475243E-7";
        QTest::newRow("16 integer digits") << 1234567890123456.0 << "1.23456789012346E15";
        QTest::newRow("big") << -1.5e20 << "-1.5E20";
        QTest::newRow("rounded up") << 9.9999999999999999e-6 << "0.00001";
    }
    void calibrationNumberForms()
    {
        QFETCH(double, value);
        QFETCH(QString, text);
        QCOMPARE(TDevice::FloatToText(value), text);
    }

    void calibrationFilesThroughTheButtons()
    {
        MakeWindow("/INT");
        TScript script;
        script.Answer(QMessageBox::Ok);
        pc->NewProject();
        Ui::TfMain &ui = *window->ui;
        const QStringList typed{"0.1", "0.125", "-2", "1000", "1.5", "0", "0.001"};
        QLineEdit *const edits[] = {ui.TS3Edit7, ui.TS3Edit8, ui.TS3Edit9, ui.TS3Edit10, ui.TS3Edit11, ui.TS3Edit12, ui.TS3Edit13};
        for (int i = 0; i < 7; ++i)
            edits[i]->setText(typed[i]);
        const QString sub = Path("sub");
        QDir().mkpath(sub);
        QVERIFY(putFile(sub + "/c.clb", WindowsText({"[Прочее]", "Ключ=1", "[CALIBRATION]", "Ku=7"})));
        // Saved twice to the same file: one section, the other section kept.
        script.Choose(sub + "/c.clb").Choose(sub + "/c.clb");
        ui.TS3Button9->click();
        ui.TS3Button9->click();
        QCOMPARE(fileBytes(sub + "/c.clb"),
                 WindowsText({"[Прочее]", "Ключ=1", "[CALIBRATION]", "Ku=-2", "Ki05=0.100000001490116", "Ki20=0.125",
                              "Rref=1000", "Uref=1.5", "Rl=0", "Rc=0.00100000004749745"}));
        QCOMPARE(pc->OpenDialog()->InitialDir(), sub + "/");

        // A partial file: what is missing or no number is 0; the whole model is shown again.
        QVERIFY(putFile(sub + "/part.clb", WindowsText({"[calibration]", "ku=2.5", "Rref=abc", "Rc=1e-3"})));
        ui.TS1Edit0->setText("77");
        script.Cancel().Choose(sub + "/part.clb");
        ui.TS3Button10->click();  // cancelled: nothing changes
        QCOMPARE(ui.TS3Edit9->text(), QStringLiteral("-2"));
        ui.TS3Button10->click();
        QCOMPARE(ui.TS3Edit9->text(), QStringLiteral("2.500"));
        QCOMPARE(ui.TS3Edit7->text(), QStringLiteral("0.000"));
        QCOMPARE(ui.TS3Edit10->text(), QStringLiteral("0.000"));
        QCOMPARE(ui.TS3Edit13->text(), QStringLiteral("0.001"));
        QCOMPARE(ui.TS1Edit0->text(), QStringLiteral("0.000"));
        QVERIFY(script.Done());
    }
};

int main(int argc, char **argv)
{
    return fixture::Run<TestProjectFiles>(argc, argv);
}

#include "tst_project_files.moc"
