// The main window as the technician sees it: start-up from the settings file and the command
// line, the Admin gesture, the float fields, the brightness sliders, the menu pictures, help
// and the file dialogs' folder.
#include "tests/support/setup_window_fixture.h"

#include "filedialog_u.h"
#include "platform/help.h"

#include <QFileDialog>
#include <QLineEdit>

using namespace fixture;

namespace {

const QString NoProjectCaption = QStringLiteral("Настройка ВКС 7410(20) и ЛДМ 0612/К3 - нет открытого проекта");

std::unique_ptr<TfMain> MakeWindow()
{
    auto window = std::make_unique<TfMain>();
    window->show();
    return window;
}

// The window closes as the user closes it (not saving a modified project); its settings go to
// the file.
void CloseWindow(std::unique_ptr<TfMain> &window)
{
    if (window->ProjectControl->State() == psModified)
        AnswerNextMessage(QMessageBox::No);
    QVERIFY(window->close());
    window.reset();
}

bool IsBold(QWidget *widget)
{
    return widget->font().bold();
}

QPoint InAdminRect()
{
    return TfMain::AdminRect().center();
}

// A double click as the mouse delivers it: press, release, press with the double click.
void DoubleClick(QWidget *widget, Qt::KeyboardModifiers modifiers, QPoint pos)
{
    QTest::mousePress(widget, Qt::LeftButton, modifiers, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, modifiers, pos);
    QTest::mousePress(widget, Qt::LeftButton, modifiers, pos);
    QTest::mouseDClick(widget, Qt::LeftButton, modifiers, pos);
    QTest::mouseRelease(widget, Qt::LeftButton, modifiers, pos);
}

} // namespace

class TestMainWindowForm : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        RemoveSettings();
        SetFirstArgument("");
    }
    void cleanupTestCase() { RemoveSettings(); }

    void startsWithDefaultsWithoutSettingsFile()
    {
        auto window = MakeWindow();
        QCOMPARE(window->pos(), QPoint(200, 100));
        QCOMPARE(window->size(), QSize(567, 466));
        QCOMPARE(window->windowState(), Qt::WindowNoState);
        QVERIFY(window->ui->M1N1->isChecked());
        QVERIFY(window->ui->M1N2->isChecked());
        QVERIFY(window->ui->M1N3->isChecked());
        QVERIFY(!window->ui->M1N4->isChecked());
        QVERIFY(!IsBold(window->ui->TS0Button1));
        QCOMPARE(window->windowTitle(), NoProjectCaption);
        QCOMPARE(window->ProgramControl->SaveDir(), ProgramDir());
        QCOMPARE(window->ProgramControl->Mode(), External);
        QVERIFY(!window->ui->PC0->isVisible());
        QCOMPARE(window->ProgramControl->ExchangeLabel()->text(), QStringLiteral(" Обмена нет "));
        QCOMPARE(window->ProgramControl->ExchangeLabel()->palette().color(QPalette::WindowText), QColor(0, 0, 128));
        QVERIFY(!window->ProgramControl->ProgressGauge()->isVisible());
        // The clock runs in the first panel.
        QTRY_VERIFY(!window->ui->SB0Panel0->text().isEmpty());
        QVERIFY(window->ui->SB0Panel0->text() != QLatin1String("Admin"));
    }

    // The window shows its frame first; its sheets' controls come right after its first paint,
    // with all that the window gives its controls (masks, font style, condensed number fields).
    void sheetsComeAfterTheFirstPaint()
    {
        WriteSettings("[Program Settings]\r\nFontStyle=1\r\n");
        SetFirstArgument("/INT");
        auto window = std::make_unique<TfMain>();
        QVERIFY(!window->SheetsBuilt());
        QVERIFY(!window->findChild<QWidget *>(QStringLiteral("TS1Edit0")));
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        QTRY_VERIFY(window->SheetsBuilt());
        const auto states = [&window] {
            QStringList list;
            for (QWidget *w : window->Frame().PC0->findChildren<QWidget *>())
                list << QStringLiteral("%1 hidden %2 enabled %3 bold %4")
                            .arg(w->objectName())
                            .arg(w->isHidden())
                            .arg(w->isEnabled())
                            .arg(w->font().bold());
            return list;
        };
        const QStringList made = states();
        window->ProgramControl->ApplyFontStyle(true);
        window->ProgramControl->ApplyAccessMasksToNewControls();
        QCOMPARE(made, states());
        QVERIFY(IsBold(window->ui->TS5Button4));
        QCOMPARE(window->ui->TS1Edit0->font().stretch(), int(QFont::Condensed));
    }

    // A menu command given before the sheets are made finds them made.
    void commandBeforeTheSheets()
    {
        auto window = MakeWindow();  // not yet painted
        QVERIFY(!window->SheetsBuilt());
        AnswerNextMessage(QMessageBox::Ok);
        window->Frame().M0N1->trigger();
        QVERIFY(window->SheetsBuilt());
        QVERIFY(window->Frame().PC0->isVisible());
        QCOMPARE(window->ui->TS0CB1->currentText(), QStringLiteral("9600"));
    }

    void settingsAreWrittenAndReadBack()
    {
        auto window = MakeWindow();
        NewProject(*window);  // the options are offered with a project open
        window->move(150, 120);
        window->resize(700, 500);
        window->ui->M1N2->trigger();  // error messages off
        window->ui->M1N4->trigger();  // bold on
        QVERIFY(IsBold(window->ui->TS1Edit0));
        QVERIFY(IsBold(window->ui->TS1L1));
        QVERIFY(!IsBold(window->ui->TS1Label0));  // a caption label keeps its font
        QVERIFY(!IsBold(window->ui->TS1ChB0));
        window->ProgramControl->SetSaveDir(QStringLiteral("/tmp/jobs/"));
        CloseWindow(window);

        const QByteArray file = ReadSettings();
        QVERIFY(file.contains("[Program Settings]\r\n"));
        for (const char *line : {"Left=150\r\n", "Top=120\r\n", "Width=700\r\n", "Height=500\r\n",
                                 "WindowState=0\r\n", "NormalMessages=1\r\n",
                                 "ErrorMessages=0\r\n", "Confirmations=1\r\n", "FontStyle=1\r\n",
                                 "SaveDir=/tmp/jobs/\r\n"})
            QVERIFY2(file.contains(line), line);
        // An unsaved new project is stored by its name and not reopened.
        QVERIFY(file.contains(QStringLiteral("ProjectFileName=%1noname.prj\r\n").arg(ProgramDir()).toUtf8()));

        window = MakeWindow();
        QCOMPARE(window->pos(), QPoint(150, 120));
        QCOMPARE(window->size(), QSize(700, 500));
        QVERIFY(!window->ui->M1N2->isChecked());
        QVERIFY(window->ui->M1N4->isChecked());
        QVERIFY(IsBold(window->ui->TS5Button4));
        QCOMPARE(window->ProgramControl->SaveDir(), QStringLiteral("/tmp/jobs/"));
        QCOMPARE(window->windowTitle(), NoProjectCaption);
        // Unticking makes the controls plain at once.
        NewProject(*window);
        window->ui->M1N4->trigger();
        QVERIFY(!IsBold(window->ui->TS5Button4));
    }

    void maximisedWindowKeepsNormalBounds()
    {
        WriteSettings("[Program Settings]\r\nLeft=10\r\nTop=20\r\nWidth=600\r\nHeight=400\r\n");
        auto window = MakeWindow();
        window->showMaximized();
        QTRY_VERIFY(window->isMaximized());
        CloseWindow(window);
        const QByteArray file = ReadSettings();
        QVERIFY(file.contains("WindowState=2\r\n"));
        QVERIFY(file.contains("Left=10\r\nTop=20\r\nWidth=600\r\nHeight=400\r\n"));

        window = MakeWindow();
        QVERIFY(window->isMaximized());
        QCOMPARE(window->normalGeometry().size(), QSize(600, 400));
    }

    void garbageSettingsStartWithDefaults()
    {
        WriteSettings("[program settings]\r\nLeft=abc\r\nTop=$20\r\nWidth=\r\nWindowState=7\r\n"
                      "NormalMessages=yes\r\nErrorMessages=0x0\r\nFontStyle=-1\r\nProjectFileName=/no/such/job.prj\r\n"
                      "\x01\x02garbage\xff\r\n");
        auto window = MakeWindow();
        QCOMPARE(window->pos(), QPoint(200, 0x20));
        QCOMPARE(window->size(), QSize(567, 466));
        QCOMPARE(window->windowState(), Qt::WindowNoState);
        QVERIFY(window->ui->M1N1->isChecked());
        QVERIFY(!window->ui->M1N2->isChecked());
        QVERIFY(window->ui->M1N4->isChecked());
        // A last project that no longer exists is forgotten.
        QCOMPARE(window->windowTitle(), NoProjectCaption);
        QCOMPARE(window->ProgramControl->ProjectFileName(), QString());

        // A damaged size never makes a window larger than a screen can show.
        window.reset();
        WriteSettings("[Program Settings]\r\nWidth=2000000000\r\nHeight=-5\r\n");
        window = MakeWindow();
        QVERIFY(window->width() <= 16384);
        QVERIFY(window->height() >= 1);
    }

    void unreadableSettingsStartWithDefaults()
    {
        // A folder where the file should be: nothing can be read, nor written at the end.
        RemoveSettings();
        QVERIFY(QDir().mkpath(SettingsPath()));
        auto window = MakeWindow();
        QCOMPARE(window->pos(), QPoint(200, 100));
        QVERIFY(window->ui->M1N3->isChecked());
        // Closing says that the settings could not be written, and closes.
        const auto answer = AnswerNextMessage(QMessageBox::Ok);
        QVERIFY(window->close());
        QVERIFY(answer->Answered);
        QCOMPARE(answer->Title, QStringLiteral("Error"));
        QCOMPARE(answer->Text, QStringLiteral("Unable to write to %1\nЭто не обычный файл (канал, устройство или папка).").arg(SettingsPath()));
        window.reset();
        RemoveSettings();
    }

    void modeFromCommandLine_data()
    {
        QTest::addColumn<QByteArray>("argument");
        QTest::addColumn<int>("mode");
        QTest::newRow("none") << QByteArray("") << int(External);
        QTest::newRow("/INT") << QByteArray("/INT") << int(Internal);
        QTest::newRow("/int") << QByteArray("/int") << int(Internal);
        QTest::newRow("/Int") << QByteArray("/Int") << int(Internal);
        QTest::newRow("/EXT") << QByteArray("/EXT") << int(External);
        QTest::newRow("/INTERNAL") << QByteArray("/INTERNAL") << int(External);
        QTest::newRow("-INT") << QByteArray("-INT") << int(External);
        QTest::newRow("INT") << QByteArray("INT") << int(External);
        QTest::newRow("/ADMIN") << QByteArray("/ADMIN") << int(External);
    }
    void modeFromCommandLine()
    {
        QFETCH(QByteArray, argument);
        QFETCH(int, mode);
        SetFirstArgument(argument.constData());
        auto window = MakeWindow();
        QCOMPARE(int(window->ProgramControl->Mode()), mode);
    }

    void adminGestureTogglesAdmin()
    {
        SetFirstArgument("/INT");
        auto window = MakeWindow();
        QLabel *clock = window->ui->SB0Panel0;
        QCOMPARE(window->ProgramControl->Mode(), Internal);

        // Without the whole key combination, or outside the corner, nothing happens.
        DoubleClick(clock, Qt::ControlModifier, InAdminRect());
        DoubleClick(clock, TfMain::AdminModifiers, QPoint(40, 12));
        QCOMPARE(window->ProgramControl->Mode(), Internal);

        DoubleClick(clock, TfMain::AdminModifiers, InAdminRect());
        QCOMPARE(window->ProgramControl->Mode(), Admin);
        QTRY_COMPARE(clock->text(), QStringLiteral("Admin"));

        // Back to the mode the program started in.
        DoubleClick(clock, TfMain::AdminModifiers, InAdminRect());
        QCOMPARE(window->ProgramControl->Mode(), Internal);
        QTRY_VERIFY(clock->text() != QLatin1String("Admin"));
    }

    void floatFieldsFilterKeys()
    {
        auto window = MakeWindow();
        NewProject(*window);
        window->ui->PC0->setCurrentWidget(window->ui->TS1);
        QLineEdit *edit = window->ui->TS1Edit0;
        edit->setFocus();

        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("-1.5"));
        QCOMPARE(edit->text(), QStringLiteral("-1.5"));
        QTest::keyClicks(edit, QStringLiteral("-+.x,"));
        QCOMPARE(edit->text(), QStringLiteral("-1.5"));
        QTest::keyClicks(edit, QStringLiteral("E"));
        QTest::keyClicks(edit, QStringLiteral("e2"));
        QCOMPARE(edit->text(), QStringLiteral("-1.5E2"));
        QTest::keyClick(edit, Qt::Key_Backspace);
        QCOMPARE(edit->text(), QStringLiteral("-1.5E"));

        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("+"));
        QCOMPARE(edit->text(), QStringLiteral("+"));
        edit->clear();
        QTest::keyClicks(edit, QStringLiteral("e"));
        QCOMPARE(edit->text(), QStringLiteral("e"));

        // The rule as a function of the text alone.
        QVERIFY(TfMain::IsFloatKeyAllowed(QString(), QLatin1Char('.')));
        QVERIFY(TfMain::IsFloatKeyAllowed(QString(), QLatin1Char('-')));
        QVERIFY(!TfMain::IsFloatKeyAllowed(QStringLiteral("1e5"), QLatin1Char('E')));
        QVERIFY(!TfMain::IsFloatKeyAllowed(QStringLiteral("+3"), QLatin1Char('-')));
        QVERIFY(TfMain::IsFloatKeyAllowed(QStringLiteral("+3.5e"), QChar(8)));
    }

    void brightnessSlidersShareTheirLimit()
    {
        auto window = MakeWindow();
        NewProject(*window);
        window->ui->PC0->setCurrentWidget(window->ui->TS1);
        QSlider *led = window->ui->TS1S0, *main = window->ui->TS1S1, *extra = window->ui->TS1S2;

        // Values that the program sets are taken as they are.
        led->setValue(10);
        extra->setValue(5);
        main->setValue(14);
        QCOMPARE(main->value(), 14);

        QTest::keyClick(main, Qt::Key_End);
        QCOMPARE(main->value(), 10);
        QCOMPARE(window->ui->TS1L0->text(), QStringLiteral("10"));
        QCOMPARE(window->ui->TS1L1->text(), QStringLiteral("10"));
        QCOMPARE(window->ui->TS1L2->text(), QStringLiteral("5"));

        led->setValue(15);
        extra->setValue(15);
        QTest::keyClick(main, Qt::Key_Up);
        QCOMPARE(main->value(), 1);  // its own minimum, the sum stays above 25
        QCOMPARE(window->ui->TS1L1->text(), QStringLiteral("1"));

        led->setValue(3);
        QTest::keyClick(main, Qt::Key_PageUp);
        QCOMPARE(main->value(), qMin(1 + main->pageStep(), 7));
    }

    void menuPicturesFollowTheItems()
    {
        SetFirstArgument("/INT");  // the device menu is shown
        auto window = MakeWindow();
        auto index = [](QAction *item) { return item->property("ImageIndex").toInt(); };
        Ui::TfMain &ui = *window->ui;
        // Without a project the device items are disabled.
        QCOMPARE(index(ui.M2N4), 23);
        NewProject(*window);
        QCOMPARE(index(ui.M0N1), 0);
        QCOMPARE(index(ui.M2N4), 22);
        QCOMPARE(index(ui.M9N1), 24);
        QCOMPARE(index(ui.M1N1), 8);   // ticked, enabled
        QCOMPARE(index(ui.M1N4), 14);  // not ticked, enabled
        QCOMPARE(index(ui.M0N3), 4);

        ui.M1N1->trigger();
        QCOMPARE(index(ui.M1N1), 10);
        ui.M1N1->setEnabled(false);
        QCOMPARE(index(ui.M1N1), 11);
        ui.M1N1->setChecked(true);
        QCOMPARE(index(ui.M1N1), 9);
        ui.M0N3->setEnabled(false);
        QCOMPARE(index(ui.M0N3), 5);
        ui.M0N3->setEnabled(true);
        QCOMPARE(index(ui.M0N3), 4);
        QVERIFY(ui.M0N4->icon().isNull());
        QVERIFY(!ui.M0N3->icon().isNull());
    }

    void inspectionSensorPresetsRange()
    {
        auto window = MakeWindow();
        Ui::TfMain &ui = *window->ui;
        ui.TS4Edit0->setText(QStringLiteral("7"));
        ui.TS4CB0->setCurrentIndex(5);
        QCOMPARE(ui.TS4Edit0->text(), QStringLiteral("0"));
        QCOMPARE(ui.TS4Edit1->text(), QStringLiteral("100"));
        ui.TS4CB0->setCurrentIndex(7);
        QCOMPARE(ui.TS4Edit1->text(), QStringLiteral("320"));
        ui.TS4CB0->setCurrentIndex(2);
        QCOMPARE(ui.TS4Edit0->text(), QStringLiteral("4"));
        QCOMPARE(ui.TS4Edit1->text(), QStringLiteral("20"));
    }

    // Qt's own texts (standard buttons, file dialogs) are in Russian like the rest.
    void qtTextsAreRussian()
    {
        QMessageBox box(QMessageBox::Question, QString(), QString(), QMessageBox::Yes | QMessageBox::Cancel);
        QCOMPARE(box.button(QMessageBox::Yes)->text().remove(QLatin1Char('&')), QStringLiteral("Да"));
        QCOMPARE(box.button(QMessageBox::Cancel)->text().remove(QLatin1Char('&')), QStringLiteral("Отмена"));
        QCOMPARE(QCoreApplication::translate("QFileDialog", "File &name:").remove(QLatin1Char('&')),
                 QStringLiteral("Имя файла:"));
    }

    void helpOpensTheFileOfTheProgramFolder()
    {
        const QString helpFile = ProgramDir() + QStringLiteral("Vks74xx.hlp");
        QFile::remove(helpFile);
        QStringList opened;
        platform::SetDocumentOpener([&opened](const QString &path) {
            opened << path;
            return true;
        });
        auto window = MakeWindow();

        // Missing: the user is told which file is missing.
        const auto answer = AnswerNextMessage(QMessageBox::Ok);
        QTest::keyClick(window.get(), Qt::Key_F1);
        QVERIFY(answer->Answered);
        QCOMPARE(answer->Text, platform::HelpFileMissingText(helpFile));
        QVERIFY(opened.isEmpty());

        QFile file(helpFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QTest::keyClick(window.get(), Qt::Key_F1);                         // F1 alone
        QTest::keyClick(window->ui->TS0Button1, Qt::Key_F1, Qt::ShiftModifier);  // with a modifier, on a control
        window->ui->TB19->trigger();
        NewProject(*window);
        window->ui->PC0->setCurrentWidget(window->ui->TS3);
        QTest::mouseClick(window->ui->TS3Button0, Qt::LeftButton);
        QCOMPARE(opened, QStringList(4, helpFile));

        // Shipped in other letter case, as a Linux package may name it: found all the same.
        QFile::remove(helpFile);
        const QString lowerCase = ProgramDir() + QStringLiteral("vks74xx.hlp");
        QFile lowerFile(lowerCase);
        QVERIFY(lowerFile.open(QIODevice::WriteOnly));
        lowerFile.close();
        opened.clear();
        QTest::keyClick(window.get(), Qt::Key_F1);
        QCOMPARE(opened, QStringList{lowerCase});

        platform::SetDocumentOpener({});
        QFile::remove(lowerCase);
    }

    void closingAsksToSaveModifiedProject()
    {
        auto window = MakeWindow();
        NewProject(*window);
        QCOMPARE(window->ProjectControl->State(), psModified);

        auto answer = AnswerNextMessage(QMessageBox::Cancel);
        QVERIFY(!window->close());
        QVERIFY(answer->Answered);
        QCOMPARE(answer->Title, QStringLiteral("Confirm"));
        QCOMPARE(answer->Text, QStringLiteral("Сохранить изменения в проекте?"));
        QVERIFY(window->isVisible());

        // Forced: asked also with confirmations off.
        window->ui->M1N3->trigger();
        answer = AnswerNextMessage(QMessageBox::No);
        QVERIFY(window->close());
        QVERIFY(answer->Answered);
    }

    void changesMarkTheProjectModified()
    {
        auto window = MakeWindow();
        NewProject(*window);
        window->ProjectControl->SetState(psSaved);
        window->ui->PC0->setCurrentWidget(window->ui->TS2);
        QCOMPARE(window->ProjectControl->State(), psModified);

        window->ProjectControl->SetState(psSaved);
        QTest::mouseClick(window->ui->TS2ChB1, Qt::LeftButton);
        QCOMPARE(window->ProjectControl->State(), psModified);

        // A press on a relay cell moves it to its next mode.
        window->ProjectControl->SetState(psSaved);
        QLabel *cell = window->ui->TS2Image2_1;
        const int mode = cell->property("Tag").toInt();
        QTest::mousePress(cell, Qt::RightButton);
        QCOMPARE(cell->property("Tag").toInt(), (mode + 1) % 3);
        QCOMPARE(window->ProjectControl->State(), psModified);

        // The link address goes to the instrument model.
        window->ui->TS0SE0->setValue(17);
        QCOMPARE(int(window->Device->DeviceAddress), 17);
        CloseWindow(window);
    }

    void saveDirIsTheFolderOfEveryFileDialog()
    {
        auto window = MakeWindow();
        const auto dialogs = window->findChildren<TFileDialog *>();
        QCOMPARE(dialogs.size(), 6);
        const QString dir = QDir::tempPath() + QLatin1Char('/');
        window->ProgramControl->SetSaveDir(dir);
        for (TFileDialog *dialog : dialogs)
            QCOMPARE(dialog->InitialDir(), dir);

        QCOMPARE(window->CalibSaveDialog->Title(),
                 QStringLiteral("Сохранение файла - копии калибровочных коэффициентов прибора"));
        QCOMPARE(window->EEPROMOpenDialog->NameFilters(), QStringLiteral("EEPROM File (*.bin);;All files (*)"));

        // The dialog opens there; a name typed without extension gets the default one.
        QString seenDir;
        WatchNextFileDialog([&seenDir](QFileDialog *dialog) {
            seenDir = dialog->directory().absolutePath();
            dialog->selectFile(QStringLiteral("copy"));
            QTest::keyClick(dialog, Qt::Key_Return);
        });
        QVERIFY(window->EEPROMSaveDialog->Execute());
        QCOMPARE(seenDir + QLatin1Char('/'), QDir(dir).absolutePath() + QLatin1Char('/'));
        QCOMPARE(window->EEPROMSaveDialog->FileName(), QDir(dir).absoluteFilePath(QStringLiteral("copy.bin")));
    }
};

int main(int argc, char **argv)
{
    return fixture::Run<TestMainWindowForm>(argc, argv);
}

#include "tst_mainwindow_form.moc"
