#include "main_u.h"

#include "device_u.h"
#include "field_place.h"
#include "filedialog_u.h"
#include "global_u.h"
#include "indicator_pictures.h"
#include "loop_control.h"
#include "main_form.h"
#include "platform/end_signals.h"
#include "platform/help.h"
#include "platform/profile.h"
#include "prgctrl_u.h"
#include "prjctrl_u.h"
#include "relaymatrix_u.h"
#include "resource_picture.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDialog>
#include <QKeyEvent>
#include <QLocale>
#include <QMessageBox>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTabBar>
#include <QThread>
#include <QTime>
#include <QTimer>

#include <algorithm>
#include <array>
#include <climits>
#include <cstdio>

namespace {

// Range presets of the inspection tab's sensor list, by item.
const std::array<std::pair<const char *, const char *>, 8> InspectionRanges{{
    {"0", "5"}, {"0", "20"}, {"4", "20"}, {"0", "100"}, {"0", "320"}, {"0", "100"}, {"0", "320"}, {"0", "320"},
}};

// The time of day as the system's long time format shows it, without a time-zone name.
QString ClockText()
{
    const QLocale locale = QLocale::system();
    QString format = locale.timeFormat(QLocale::LongFormat);
    format.remove(QLatin1Char('t'));
    return locale.toString(QTime::currentTime(), format.trimmed());
}

} // namespace

TfMain::TfMain(QWidget *parent) : QMainWindow(parent), ui(this), FForm(new Ui::TfMain)
{
    FForm->setupFrame(this);
    // Compact tabs, so that every tab's caption shows. The style sheet goes on the tab bar alone:
    // on the tab widget it would restyle every control of every sheet.
    Frame().PC0->tabBar()->setStyleSheet(QStringLiteral("QTabBar::tab { padding: 3px 4px; }"));
    Frame().SB0->addWidget(Frame().SB0Panel0);
    Frame().SB0->addWidget(Frame().SB0Panel1);
    Frame().SB0->addWidget(Frame().SB0Panel2, 1);
    InitMainForm();
}

Ui::TfMain *TfMain::TControls::operator->() const
{
    if (!FWindow->FSheetsBuilt)
        FWindow->BuildSheets();
    return FWindow->FForm;
}

Ui::TfMainFrame &TfMain::Frame() const
{
    return *FForm;
}

void TfMain::BuildSheets()
{
    if (FSheetsBuilt)
        return;
    if (QThread::currentThread() != thread()) {
        QMetaObject::invokeMethod(this, [this] { BuildSheets(); }, Qt::BlockingQueuedConnection);
        return;
    }
    FForm->setupSheets();
    FSheetsBuilt = true;
    UseNarrowNumberFields();
    ConnectSheetHandlers();
    Device->SearchPorts();
    // Workers read the link group's port and baud through the window's copies.
    Device->SetLinkSettings({[this] { return LinkBaudText(); }, [this] { return LinkPortText(); },
                             FieldPlace(ui->TS0CB1), ui->TS0CB1});
    UpdateLinkTexts();
    ConnectCommands();
    indicator_pictures::Show(*this, indicator_pictures::Normal);
    ProgramControl->ApplyFontStyle(Frame().M1N4->isChecked());
    ProgramControl->ApplyAccessMasksToNewControls();
}

void TfMain::paintEvent(QPaintEvent *event)
{
    QMainWindow::paintEvent(event);
    // The sheets are made once the window has first been painted: a user who opens a project
    // finds them ready, and the window did not wait for them to appear.
    if (!FSheetsBuilt && !FSheetsQueued) {
        FSheetsQueued = true;
        QTimer::singleShot(0, this, &TfMain::BuildSheets);
    }
}

void TfMain::UseNarrowNumberFields()
{
    // The number fields were sized for Windows' narrow 8-point font: the condensed face of the
    // same font shows a sign, five integer digits and three decimals in them, bold too (the bold
    // style keeps the face, as it only switches the weight).
    for (QLineEdit *edit : findChildren<QLineEdit *>()) {
        if (!edit->objectName().startsWith(QLatin1String("TS")))
            continue;
        QFont font = edit->font();
        font.setStretch(QFont::Condensed);
        edit->setFont(font);
    }
}

TfMain::~TfMain()
{
    DoneMainForm();
    delete FForm;
}

QRect TfMain::AdminRect()
{
    // The top left corner of the clock panel, in the panel's own coordinates.
    return QRect(0, 0, 10, 10);
}

// ---------------------------------------------------------------------------------------------
// Creation and teardown

int TfMain::InitMainForm()
{
    // Every float text of the program is written and read with "." as decimal separator.
    QLocale::setDefault(QLocale::c());

    platform::ApplicationWindow *appWindow = platform::ApplicationWindow::instance();
    if (appWindow)
        appWindow->setTimer(0, 100);

    ConnectHandlers();

    ProgramControl = new TProgramControl(this);
    ProjectControl = new TProjectControl(this);

    // The device's file dialogs: EEPROM copies and calibration files.
    const auto dialog = [this](const char *name, TFileDialog::TKind kind, const QString &title, const QString &filter,
                               const QString &ext) {
        auto *made = new TFileDialog(this, kind, title, filter, ext);
        made->setObjectName(QLatin1String(name));
        return made;
    };
    const QString eepromFilter = QStringLiteral("EEPROM File (*.bin)|*.bin|All files (*.*)|*.*");
    const QString calibFilter = QStringLiteral("Calibration coefs (*.clb)|*.clb|All files (*.*)|*.*");
    EEPROMOpenDialog = dialog("EEPROMOpenDialog", TFileDialog::Open, QStringLiteral("Открытие файла - копии EEPROM прибора"),
                              eepromFilter, QStringLiteral(".bin"));
    EEPROMSaveDialog = dialog("EEPROMSaveDialog", TFileDialog::Save, QStringLiteral("Сохранение файла - копии EEPROM прибора"),
                              eepromFilter, QStringLiteral(".bin"));
    CalibOpenDialog = dialog("CalibOpenDialog", TFileDialog::Open,
                             QStringLiteral("Открытие файла - копии калибровочных коэффициентов прибора"), calibFilter,
                             QStringLiteral(".clb"));
    CalibSaveDialog = dialog("CalibSaveDialog", TFileDialog::Save,
                             QStringLiteral("Сохранение файла - копии калибровочных коэффициентов прибора"), calibFilter,
                             QStringLiteral(".clb"));

    Device = new TDevice();
    Device->SetForm(this);
    // The sheets' controls, their port lists and commands come with the sheets (BuildSheets).

    if (ProgramControl->LoadProgramSettings(ProgramControl->SettingsFileName()) != 0)
        return -1;

    if (appWindow) {
        FHookId = appWindow->addHook([this](platform::Message &message) { return AppMessageHook(message); });
        FHooked = true;
    }
    return 0;
}

int TfMain::DoneMainForm()
{
    int result = 0;
    // Saved once: a close has saved them already (or said why it could not), and another
    // attempt would only wait for a held folder again.
    if (!FSettingsSaved) {
        try {
            ProgramControl->SaveProgramSettings(ProgramControl->SettingsFileName());
        } catch (const platform::ProfileWriteError &) {
            result = -1;  // the window is going anyway; the rest of the teardown still runs
        }
    }
    // A worker on its way out may still hand work to the window thread: serve it, then free
    // what the workers use. The hook stays until then: without it a worker's question would
    // count as answered OK unseen, and its operation would go on to the instrument.
    TExchange::WaitForAll();
    platform::ApplicationWindow *appWindow = platform::ApplicationWindow::instance();
    if (FHooked && appWindow)
        appWindow->removeHook(FHookId);
    FHooked = false;
    delete Device;
    Device = nullptr;
    delete ProjectControl;
    ProjectControl = nullptr;
    delete ProgramControl;
    ProgramControl = nullptr;
    if (appWindow)
        appWindow->killTimer(0);
    return result;
}

void TfMain::ConnectHandlers()
{
    // MyClick: menu items and toolbar buttons (the buttons of the tabs come with the sheets).
    const auto actions = findChildren<QAction *>();
    for (QAction *action : actions) {
        if (action->isSeparator() || action->objectName().isEmpty())
            continue;
        connect(action, &QAction::triggered, this, [this, action] { MyClick(action); });
    }
    // MyChange: the page control's tab.
    connect(Frame().PC0, &QTabWidget::currentChanged, this, [this] { MyChange(Frame().PC0); });

    // The menu pictures follow every change of the items.
    const Ui::TfMainFrame &frame = Frame();
    for (QAction *item : {frame.M0N1, frame.M0N2, frame.M0N3, frame.M0N5, frame.M1N1, frame.M1N2, frame.M1N3,
                          frame.M1N4, frame.M2N1, frame.M2N2, frame.M2N3, frame.M2N4, frame.M9N1})
        connect(item, &QAction::changed, this, &TfMain::MM0Change);
    MM0Change();

    // Every key of the window before its controls, and the Admin gesture on the status bar.
    qApp->installEventFilter(this);
}

void TfMain::ConnectSheetHandlers()
{
    // MyClick: the buttons of the tabs.
    const auto buttons = Frame().PC0->findChildren<QPushButton *>();
    for (QPushButton *button : buttons)
        connect(button, &QPushButton::clicked, this, [this, button] { MyClick(button); });

    // MyChange: the data fields of the six sheets.
    for (QLineEdit *edit : Frame().PC0->findChildren<QLineEdit *>()) {
        if (!qobject_cast<QAbstractSpinBox *>(edit->parentWidget())
            && !qobject_cast<QComboBox *>(edit->parentWidget()))
            connect(edit, &QLineEdit::textChanged, this, [this, edit] { MyChange(edit); });
    }
    for (QComboBox *box : Frame().PC0->findChildren<QComboBox *>())
        connect(box, &QComboBox::currentIndexChanged, this, [this, box] { MyChange(box); });
    for (QSpinBox *box : Frame().PC0->findChildren<QSpinBox *>())
        connect(box, &QSpinBox::valueChanged, this, [this, box] { MyChange(box); });
    for (QDoubleSpinBox *box : Frame().PC0->findChildren<QDoubleSpinBox *>())
        connect(box, &QDoubleSpinBox::valueChanged, this, [this, box] { MyChange(box); });
    for (QAbstractButton *box : Frame().PC0->findChildren<QAbstractButton *>()) {
        if (qobject_cast<QCheckBox *>(box) || qobject_cast<QRadioButton *>(box))
            connect(box, &QAbstractButton::toggled, this, [this, box] { MyChange(box); });
    }

    // The float fields filter their keys (in eventFilter).
    FFloatFields = {ui->TS1Edit0, ui->TS1Edit1, ui->TS1Edit2, ui->TS1Edit3, ui->TS2Edit0, ui->TS2Edit1,
                    ui->TS2Edit2, ui->TS2Edit3, ui->TS2Edit4, ui->TS2Edit5, ui->TS3Edit0, ui->TS3Edit1,
                    ui->TS3Edit2, ui->TS3Edit3, ui->TS3Edit4, ui->TS3Edit7, ui->TS3Edit8, ui->TS3Edit9,
                    ui->TS3Edit10, ui->TS3Edit11, ui->TS3Edit12, ui->TS3Edit13, ui->TS4Edit0, ui->TS4Edit1,
                    ui->TS4Edit2, ui->TS4Edit3};

    // The brightness sliders: the end of a move by mouse or key.
    for (QSlider *slider : {ui->TS1S0, ui->TS1S1, ui->TS1S2}) {
        connect(slider, &QAbstractSlider::actionTriggered, this, [this, slider](int action) {
            // A drag ends with the release; a wheel step (a move without the slider held) ends
            // at once.
            if (action != QAbstractSlider::SliderNoAction
                && (action != QAbstractSlider::SliderMove || !slider->isSliderDown()))
                MySliderChanged(slider);
        });
        connect(slider, &QAbstractSlider::sliderReleased, this, [this, slider] { MySliderChanged(slider); });
    }

    // The link group's texts, copied for the workers.
    connect(ui->TS0CB0, &QComboBox::currentTextChanged, this, &TfMain::UpdateLinkTexts);
    connect(ui->TS0CB1, &QComboBox::currentTextChanged, this, &TfMain::UpdateLinkTexts);
}

// ---------------------------------------------------------------------------------------------
// Closing

void TfMain::closeEvent(QCloseEvent *event)
{
    if (FormClose())
        event->accept();
    else
        event->ignore();
}

void TfMain::EndUnattended(int signal)
{
    if (FEndSignal != 0)
        return;  // already on its way
    FEndSignal = signal;
    RequestLoopStop();
    // An operation that only reads stops at its next exchange and keeps nothing of it; one that
    // writes into the instrument finishes, so as not to leave it half written.
    Device->StopReading();
    if (TExchange::ReadersRunning() > 0)
        std::fprintf(stderr, "vks74xx: ended by %s: the reading from the instrument is stopped; nothing read is kept\n",
                     platform::EndSignalName(signal));
    else if (TExchange::Running() > 0)
        std::fprintf(stderr, "vks74xx: ended by %s: the writing into the instrument is finished first\n",
                     platform::EndSignalName(signal));
    // Until the last operation has ended, whatever asks gets no answer (as Cancel or Escape).
    auto *watch = new QTimer(this);
    connect(watch, &QTimer::timeout, this, [this, watch] {
        for (QWidget *window : QApplication::topLevelWidgets()) {
            if (auto *dialog = qobject_cast<QDialog *>(window); dialog && dialog->isVisible())
                dialog->reject();
        }
        // Again each time: a loop that raised its run flag only after the end began stops too.
        RequestLoopStop();
        if (ProgramControl->ExchangeState() == Exchanging || TExchange::Running() > 0)
            return;
        watch->stop();
        if (close())
            QCoreApplication::quit();
    });
    watch->start(20);
}

bool TfMain::FormClose()
{
    if (FEndSignal != 0) {
        if (ProjectControl->State() == psModified)
            std::fprintf(stderr,
                         "vks74xx: ended by %s: the changes to the project \"%s\" are not saved; the file stays as "
                         "last saved\n",
                         platform::EndSignalName(FEndSignal), qPrintable(ProgramControl->ProjectFileName()));
        FSettingsSaved = true;
        try {
            ProgramControl->SaveProgramSettings(ProgramControl->SettingsFileName());
        } catch (const platform::ProfileWriteError &e) {
            std::fprintf(stderr, "vks74xx: %s\n", qPrintable(e.message()));
        }
        return true;
    }
    // A started operation counts from its first step: before it takes the link it may still be
    // asking its question or taking the form, and the window must outlive that too.
    if (ProgramControl->ExchangeState() == Exchanging || TExchange::Running() > 0) {
        ProgramControl->ShowProgramMessage(true, QStringLiteral("Невозможно завершить работу!\rИдет обмен с прибором."),
                                           mtWarning, mbOK);
        return false;
    }
    if (ProjectControl->State() == psModified) {
        switch (ProgramControl->ShowProgramMessage(true, QStringLiteral("Сохранить изменения в проекте?"),
                                                   mtConfirmation, mbYesNoCancel)) {
        case mrYes: {
            // A save that was asked for and did not happen (a cancelled dialog, a refused name
            // or write) keeps the window open rather than lose the project.
            bool saved = false;
            ProjectControl->RunCommand([this, &saved] { saved = ProjectControl->SaveProject() == 0; });
            if (!saved)
                return false;
            break;
        }
        case mrNo:
            break;
        default:
            return false;
        }
    }
    FSettingsSaved = true;
    try {
        ProgramControl->SaveProgramSettings(ProgramControl->SettingsFileName());
    } catch (const platform::ProfileWriteError &e) {
        // The settings are lost, the program still ends: say so rather than keep it open.
        ProgramControl->ShowProgramMessage(true, e.message(), mtError, mbOK);
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Help

void TfMain::ShowHelp(unsigned command, unsigned context)
{
    const QString path = platform::FindFileIgnoringCase(ProgramControl->ProgramDir(), ApplicationHelpFile());
    switch (platform::WinHelp(path, command, context)) {
    case platform::HelpResult::Opened:
        break;
    case platform::HelpResult::FileMissing:
        QMessageBox::warning(this, QStringLiteral("Справка"), platform::HelpFileMissingText(path));
        break;
    case platform::HelpResult::NotOpened:
        QMessageBox::warning(this, QStringLiteral("Справка"),
                             QStringLiteral("Не найдена программа, открывающая файл %1.").arg(path));
        break;
    }
}

// ---------------------------------------------------------------------------------------------
// Data fields, sliders, menu pictures

void TfMain::MyChange(QObject *sender)
{
    if (!ProjectControl || !Device)
        return;  // the window is still being made
    if (sender == ui->TS0SE0)
        Device->DeviceAddress = static_cast<std::uint8_t>(ui->TS0SE0->value());
    if (sender == ui->TS4CB0) {
        const int item = ui->TS4CB0->currentIndex();
        if (item >= 0 && item < int(InspectionRanges.size())) {
            ui->TS4Edit0->setText(QLatin1String(InspectionRanges[item].first));
            ui->TS4Edit1->setText(QLatin1String(InspectionRanges[item].second));
        }
    }
    // Also when the program itself writes into the field; the operation that fills the form
    // sets the state it needs afterwards.
    ProjectControl->SetState(psModified);
}

void TfMain::MyMouseDown(QObject *sender)
{
    relay_matrix::MouseDown(*ui, *ProgramControl, sender);
}

bool TfMain::IsFloatKeyAllowed(const QString &text, QChar key)
{
    if (key.unicode() < 32)
        return true;  // control characters such as backspace
    QString allowed = QStringLiteral("+-0123456789");
    if (!text.contains(QLatin1Char('.')))
        allowed += QLatin1Char('.');
    if (!text.toUpper().contains(QLatin1Char('E')))
        allowed += QStringLiteral("Ee");
    if (text.contains(QLatin1Char('-')) || text.contains(QLatin1Char('+'))) {
        allowed.remove(QLatin1Char('+'));
        allowed.remove(QLatin1Char('-'));
    }
    return allowed.contains(key);
}

void TfMain::MySliderChanged(QAbstractSlider *moved)
{
    const std::array<QSlider *, 3> sliders{ui->TS1S0, ui->TS1S1, ui->TS1S2};
    const std::array<QLabel *, 3> labels{ui->TS1L0, ui->TS1L1, ui->TS1L2};
    if (std::find(sliders.begin(), sliders.end(), moved) == sliders.end())
        return;
    // The moved slider's new position (while a key step is being handled it has not become the
    // value yet); the others' values.
    int others = 0;
    for (QSlider *slider : sliders) {
        if (slider != moved)
            others += slider->value();
    }
    int position = moved->sliderPosition();
    if (position + others > 25)
        position = std::clamp(25 - others, moved->minimum(), moved->maximum());
    moved->setSliderPosition(position);
    moved->setValue(position);
    for (std::size_t i = 0; i < sliders.size(); ++i)
        labels[i]->setText(QString::number(sliders[i] == moved ? position : sliders[i]->value()));
    if (ProjectControl)
        ProjectControl->SetState(psModified);
}

void TfMain::MM0Change()
{
    // Setting a picture is itself a change of the item.
    if (FInMenuChange)
        return;
    FInMenuChange = true;
    const Ui::TfMainFrame &frame = Frame();
    for (QAction *item : {frame.M0N1, frame.M0N2, frame.M0N3, frame.M0N5, frame.M1N1, frame.M1N2, frame.M1N3,
                          frame.M1N4, frame.M2N1, frame.M2N2, frame.M2N3, frame.M2N4, frame.M9N1}) {
        const int tag = item->property("Tag").toInt();
        int index = tag + (item->isEnabled() ? 0 : 1);
        if (item->isCheckable() && !item->isChecked())
            index += 2;
        if (item->property("ImageIndex").toInt() == index && !item->icon().isNull())
            continue;
        const QPixmap picture = ResourcePicture(QStringLiteral(":/MM0IL0/%1.png").arg(index));
        QIcon icon;
        icon.addPixmap(picture, QIcon::Normal);
        icon.addPixmap(picture, QIcon::Disabled);
        item->setIcon(icon);
        item->setProperty("ImageIndex", index);
    }
    FInMenuChange = false;
}

// ---------------------------------------------------------------------------------------------
// The application window's messages

bool TfMain::AppMessageHook(platform::Message &message)
{
    if (message.msg == platform::WM_TIMER) {
        Frame().SB0Panel0->setText(ProgramControl->Mode() == Admin ? QStringLiteral("Admin") : ClockText());
        return true;
    }
    if (message.msg == SX_SearchAvailableDevices) {
        QProgressBar *gauge = ProgramControl->ProgressGauge();
        const int position = message.wParam > platform::WPARAM(INT_MAX) ? INT_MAX : int(message.wParam);
        gauge->setValue(std::clamp(position, gauge->minimum(), gauge->maximum()));
        if (static_cast<std::uint32_t>(message.lParam) != 0xFFFF)
            ui->TS0LB0->addItem(QString::number(static_cast<std::int32_t>(message.lParam)));
        return true;
    }
    if (message.msg == SX_ProgramDialog) {
        ProgramControl->ExecuteProgramDialog();
        return true;
    }
    return false;
}

// ---------------------------------------------------------------------------------------------
// Keys and mouse

bool TfMain::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        auto *widget = qobject_cast<QWidget *>(watched);
        auto *key = static_cast<QKeyEvent *>(event);
        if (widget && widget->window() == this) {
            bool handled = false;
            FormKeyDown(key, handled);
            if (handled)
                return true;
        }
        if (auto *edit = qobject_cast<QLineEdit *>(watched); edit && FFloatFields.contains(edit)) {
            const QString typed = key->text();
            if (!typed.isEmpty() && !IsFloatKeyAllowed(edit->text(), typed.at(0))) {
                QApplication::beep();
                return true;
            }
        }
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress && FSheetsBuilt && relay_matrix::ClickableColumn(*ui, watched) > 0) {
        // Any button counts; the press changes the cell, and counts as a change of the project.
        MyMouseDown(watched);
        MyChange(watched);
        return true;
    }
    if (watched == Frame().SB0) {
        if (event->type() == QEvent::MouseButtonPress) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            SB0MouseDown(mouse->position().toPoint(), mouse->modifiers());
        } else if (event->type() == QEvent::MouseButtonDblClick) {
            SB0DblClick();
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

void TfMain::FormKeyDown(QKeyEvent *event, bool &handled)
{
    if (event->key() == Qt::Key_F1) {
        ShowHelp(platform::HELP_FINDER, 0);
        handled = true;
    } else if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)
               && Frame().PC0->isVisible() && Frame().PC0->currentWidget() == Frame().TS0
               && !qobject_cast<QAbstractButton *>(focusWidget())) {
        // The link check is the window's default button while the link tab is showing.
        if (ui->TS0Button1->isVisible() && ui->TS0Button1->isEnabled())
            ui->TS0Button1->click();
        handled = true;
    }
}

void TfMain::SB0MouseDown(const QPoint &pos, Qt::KeyboardModifiers modifiers)
{
    const QPoint inPanel = Frame().SB0Panel0->mapFrom(Frame().SB0, pos);
    AdminArmed = AdminRect().contains(inPanel) && (modifiers & AdminModifiers) == AdminModifiers;
}

void TfMain::SB0DblClick()
{
    if (AdminArmed)
        ProgramControl->ToggleAdmin();
}

// ---------------------------------------------------------------------------------------------
// The link group's texts for the workers

void TfMain::UpdateLinkTexts()
{
    std::lock_guard guard(FLinkTextLock);
    FLinkPortText = ui->TS0CB0->currentText();
    FLinkBaudText = ui->TS0CB1->currentText();
}

QString TfMain::LinkPortText() const
{
    std::lock_guard guard(FLinkTextLock);
    return FLinkPortText;
}

QString TfMain::LinkBaudText() const
{
    std::lock_guard guard(FLinkTextLock);
    return FLinkBaudText;
}
