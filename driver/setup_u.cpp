// TSetup: loading the controls from the controller, the shared change handler, the sensor grid,
// Apply, and the close question with its snapshot restore (setup_u.h).
#include "setup_u.h"

#include "ascii_chanclass.h"
#include "prgcontrol.h"
#include "settings_snapshot.h"
#include "ui_setup_u.h"

#include "extlibs/comport/comport.h"
#include "platform/codepage.h"
#include "platform/dde_names.h"
#include "platform/dde_server.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QHeaderView>
#include <QMessageBox>
#include <QPointer>
#include <QShortcut>
#include <QStyledItemDelegate>

#include <array>
#include <cmath>

namespace {

constexpr int ColumnCount = 5;
constexpr int RowHeight = 17;
constexpr std::array<int, ColumnCount> ColumnWidths{48, 58, 51, 35, 59};
constexpr int TimeColumnWidth = 60;
constexpr int SensorCountLimit = 1000;  // the count's upper limit for lists up to that long
const std::array<QString, ColumnCount> HeaderTexts{
    QStringLiteral(" Датчик"), QStringLiteral("Прибор №"), QStringLiteral("Канал №"), QStringLiteral("  Шаг"),
    QStringLiteral("Время, мс")};
// Width in bits of the sensor field behind each of the grid's number columns.
constexpr std::array<int, ColumnCount> ColumnBits{0, 8, 8, 16, 16};

// Opening a cell's editor counts as a change.
class TGridDelegate : public QStyledItemDelegate {
public:
    TGridDelegate(QObject *parent, std::function<void()> opened)
        : QStyledItemDelegate(parent), FOpened(std::move(opened))
    {
    }
    QWidget *createEditor(QWidget *parent, const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        FOpened();
        return QStyledItemDelegate::createEditor(parent, option, index);
    }

private:
    std::function<void()> FOpened;
};

// A cell as a sensor field takes it: a decimal integer, of which the field keeps its low bits.
std::optional<unsigned> CellNumber(const QString &text, int bits)
{
    bool ok = false;
    const int value = text.trimmed().toInt(&ok, 10);
    if (!ok)
        return std::nullopt;
    return unsigned(value) & ((1u << bits) - 1);
}

bool HasBlankOrControl(const QString &text)
{
    for (const QChar c : text) {
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return true;
    }
    return false;
}

QPointer<TSetup> SetupWindow;

// The window's plain controls and the controller's settings they show, filled from the
// controller on opening and put back by "&Ok". The page, the topic's name, the hints, the port,
// ErrorValue and the sensors have their own code.
template <typename Widget, typename Value>
struct TControl {
    Widget *Ui::TSetup::*Control;
    Value TProgramControl::*Setting;
};
constexpr std::array<TControl<QCheckBox, bool>, 7> FlagControls{{
    {&Ui::TSetup::ChB1, &TProgramControl::ConnectionScheme},
    {&Ui::TSetup::ChB8, &TProgramControl::AutoRunProgram},
    {&Ui::TSetup::ChB2, &TProgramControl::AutoRunExchange},
    {&Ui::TSetup::ChB4, &TProgramControl::ErrorState},
    {&Ui::TSetup::ChB5, &TProgramControl::IndividualTimeOutState},
    {&Ui::TSetup::ChB6, &TProgramControl::Logging},
    {&Ui::TSetup::ChB7, &TProgramControl::UseDdeManagement},
}};
constexpr std::array<TControl<QLineEdit, QString>, 5> TextControls{{
    {&Ui::TSetup::Edit2, &TProgramControl::ObjectName},
    {&Ui::TSetup::DE1, &TProgramControl::LogFileDIR},
    {&Ui::TSetup::Edit3, &TProgramControl::DdeService},
    {&Ui::TSetup::Edit4, &TProgramControl::DdeTopic},
    {&Ui::TSetup::Edit5, &TProgramControl::DdeItem},
}};
constexpr std::array<TControl<QSpinBox, std::uint16_t>, 2> SpinControls{{
    {&Ui::TSetup::SE2, &TProgramControl::SensorTimeInterval},
    {&Ui::TSetup::SE3, &TProgramControl::SensorCircleInterval},
}};

} // namespace

void OpenSetupWindow()
{
    if (!PrgControl)
        return;
    if (SetupWindow && SetupWindow->isVisible()) {
        SetupWindow->raise();
        SetupWindow->activateWindow();
        return;
    }
    // From the moment a run is asked for until it has ended the polling thread reads the
    // settings and the sensors, which the window would change.
    if (PrgControl->RunActive || PrgControl->GetState() != dsIdle)
        return;
    if (!SetupWindow)
        SetupWindow = new TSetup(PrgControl, PrgControl->Owner);
    SetupWindow->show();
    SetupWindow->raise();
    SetupWindow->activateWindow();
}

void CloseSetupWindowUnasked()
{
    if (!SetupWindow || !SetupWindow->isVisible())
        return;
    SetupWindow->DropEdits();
    SetupWindow->close();
}

TSetup::TSetup(TProgramControl *control, QWidget *mainWindow)
    : QWidget(mainWindow, Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      ui(new Ui::TSetup), FControl(control), FMainWindow(mainWindow)
{
    ui->setupUi(this);
    setFixedSize(size());
    // The form was laid out for a narrow 8-point font; the condensed face keeps every caption
    // inside its designed width.
    QFont narrow = font();
    narrow.setStretch(QFont::Condensed);
    setFont(narrow);

    QTableWidget *grid = ui->SG1;
    grid->setColumnCount(ColumnCount);
    grid->verticalHeader()->hide();
    grid->verticalHeader()->setMinimumSectionSize(RowHeight);
    grid->verticalHeader()->setDefaultSectionSize(RowHeight);
    grid->horizontalHeader()->setMinimumSectionSize(10);
    grid->horizontalHeader()->setFixedHeight(RowHeight + 2);
    for (int c = 0; c < ColumnCount; ++c) {
        grid->setHorizontalHeaderItem(c, new QTableWidgetItem(HeaderTexts[c]));
        grid->setColumnWidth(c, ColumnWidths[c]);
    }
    grid->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grid->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed
                          | QAbstractItemView::AnyKeyPressed);
    grid->setItemDelegate(new TGridDelegate(grid, [this] { Modified = true; }));

    const auto change = [this](QObject *sender) { return [this, sender] { CB1Change(sender); }; };
    for (QSpinBox *spin : {ui->SE1, ui->SE2, ui->SE3})
        connect(spin, &QSpinBox::valueChanged, this, change(spin));
    for (QLineEdit *edit : {ui->Edit1, ui->Edit2, ui->Edit3, ui->Edit4, ui->Edit5, ui->DE1})
        connect(edit, &QLineEdit::textChanged, this, change(edit));
    for (QCheckBox *box : {ui->ChB1, ui->ChB2, ui->ChB3, ui->ChB4, ui->ChB5, ui->ChB6, ui->ChB7, ui->ChB8})
        connect(box, &QCheckBox::toggled, this, change(box));

    QAction *browse = ui->DE1->addAction(style()->standardIcon(QStyle::SP_DirOpenIcon), QLineEdit::TrailingPosition);
    browse->setObjectName(QStringLiteral("DE1Browse"));
    connect(browse, &QAction::triggered, this, &TSetup::DE1Browse);

    connect(ui->Button1, &QPushButton::clicked, this, &TSetup::Button1Click);
    connect(ui->Button2, &QPushButton::clicked, this, &QWidget::close);
    connect(ui->Button3, &QPushButton::clicked, this, &TSetup::Button3Click);
    connect(new QShortcut(QKeySequence(Qt::Key_Escape), this), &QShortcut::activated, this, &QWidget::close);

    if (FMainWindow)
        FMainWindow->installEventFilter(this);
}

TSetup::~TSetup()
{
    delete ui;
}

void TSetup::FollowMainWindow()
{
    if (!FMainWindow)
        return;
    const QRect main = FMainWindow->frameGeometry();
    move(main.x() + main.width(), main.y());
}

bool TSetup::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == FMainWindow && (event->type() == QEvent::Move || event->type() == QEvent::Resize))
        FollowMainWindow();
    return QWidget::eventFilter(watched, event);
}

void TSetup::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (event->spontaneous())
        return;  // the desktop showing it again after a minimise
    FollowMainWindow();
    FControl->SetState(dsSettings);
    LoadControls();
    TakeSettingsSnapshot();
    Modified = false;  // loading the controls ran the change handler
}

void TSetup::closeEvent(QCloseEvent *event)
{
    if (Modified) {
        const auto answer = QMessageBox::question(this, QStringLiteral("Confirm"),
                                                  QStringLiteral("Вы произвели изменения!\nЗапомнить?"),
                                                  QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        if (answer == QMessageBox::Yes) {
            if (!ApplySettings()) {
                event->ignore();  // a bad value: the window stays open with the edits in place
                return;
            }
        } else if (answer == QMessageBox::No) {
            RestoreSettingsSnapshot();
        } else {
            event->ignore();
            return;
        }
        Modified = false;
    }
    FControl->SetState(dsIdle);
    event->accept();
}

void TSetup::DropEdits()
{
    if (!Modified)
        return;
    RestoreSettingsSnapshot();
    Modified = false;
}

void TSetup::Button1Click()
{
    if (!ApplySettings())
        return;
    Modified = false;
    close();
}

void TSetup::Button3Click()
{
    std::uint8_t changed = 0;
    ShowCOMWin(FControl->PortHandle, -1, -1, &changed);
    if (changed)
        Modified = true;
}

void TSetup::DE1Browse()
{
    // The dialog may make a new folder; Qt's own dialog asks for its name first.
    const QString folder = QFileDialog::getExistingDirectory(this, QString(), ui->DE1->text());
    if (!folder.isEmpty())
        ui->DE1->setText(folder);
}

void TSetup::CB1Change(QObject *sender)
{
    if (sender == ui->SE1) {
        const int before = GridRowCount();
        SetGridRowCount(ui->SE1->value() + 1);
        if (GridRowCount() > before)
            SetDefaultGridRow(GridRowCount() - 1);
    }
    if (sender == ui->Edit2) {
        for (int n = 1; n < GridRowCount(); ++n)
            SetCell(0, n, ui->Edit2->text() + QString::number(n));
    }
    if (sender == ui->ChB4)
        ui->CE1->setVisible(ui->ChB4->isChecked());
    if (sender == ui->ChB5) {
        ui->SG1->setColumnHidden(4, !ui->ChB5->isChecked());
        if (ui->ChB5->isChecked())
            ui->SG1->setColumnWidth(4, TimeColumnWidth);
    }
    if (sender == ui->ChB6)
        ui->DE1->setVisible(ui->ChB6->isChecked());
    if (sender == ui->ChB7) {
        for (QWidget *w : {static_cast<QWidget *>(ui->Label1), static_cast<QWidget *>(ui->Label2),
                           static_cast<QWidget *>(ui->Label3), static_cast<QWidget *>(ui->Edit3),
                           static_cast<QWidget *>(ui->Edit4), static_cast<QWidget *>(ui->Edit5)})
            w->setVisible(ui->ChB7->isChecked());
    }
    Modified = true;
}

void TSetup::LoadControls()
{
    const int page = FControl->ActivePageNumber;
    ui->PC1->setCurrentIndex(page <= 2 ? page : 0);
    ui->Edit1->setText(FControl->TopicName());
    // The count never caps a longer list that the settings file brought: "&Ok" keeps every sensor.
    ui->SE1->setMaximum(std::max(SensorCountLimit, FControl->SensorCount()));
    ui->SE1->setValue(FControl->SensorCount());
    for (const auto &control : FlagControls)
        (ui->*control.Control)->setChecked(FControl->*control.Setting);
    for (const auto &control : TextControls)
        (ui->*control.Control)->setText(FControl->*control.Setting);
    for (const auto &control : SpinControls)
        (ui->*control.Control)->setValue(FControl->*control.Setting);
    ui->ChB3->setChecked(FControl->GetHints());
    ui->CE1->setValue(FControl->ErrorValue);
    FillSensorGrid();
    for (QObject *box : {ui->ChB4, ui->ChB5, ui->ChB6, ui->ChB7})
        CB1Change(box);
}

void TSetup::FillSensorGrid()
{
    if (FControl->SensorCount() == 0)
        return;
    SetGridRowCount(FControl->SensorCount() + 1);
    for (int n = 1; n <= FControl->SensorCount(); ++n) {
        const TASCIIChannel *channel = FControl->Sensor(n - 1);
        SetCell(0, n, ui->Edit2->text() + QString::number(n));
        SetCell(1, n, QString::number(channel ? channel->DeviceNumber : 0));
        SetCell(2, n, QString::number(channel ? channel->ChannelNumber : 0));
        SetCell(3, n, QString::number(channel ? channel->Step : 0));
        SetCell(4, n, QString::number(channel ? channel->TimeOut : 0));
    }
}

void TSetup::SetDefaultGridRow(int row)
{
    SetCell(0, row, ui->Edit2->text() + QString::number(row));
    SetCell(1, row, QStringLiteral("1"));
    SetCell(2, row, QStringLiteral("1"));
    SetCell(3, row, QStringLiteral("1"));
    SetCell(4, row, QStringLiteral("500"));
}

void TSetup::SetGridRowCount(int count)
{
    QTableWidget *grid = ui->SG1;
    count = std::max(count, 1);
    const int dataRows = count - 1;
    const int made = grid->rowCount();
    if (dataRows > made) {
        grid->setRowCount(dataRows);
        // Rows that never held texts come in as new sensors, so that Apply can read them.
        for (int n = made + 1; n <= dataRows; ++n)
            SetDefaultGridRow(n);
    }
    // Rows beyond the count are hidden, not removed: they keep their texts for a later growth.
    for (int r = 0; r < grid->rowCount(); ++r) {
        const bool hidden = r >= dataRows;
        if (grid->isRowHidden(r) != hidden)
            grid->setRowHidden(r, hidden);
    }
    FGridRowCount = count;
}

QString TSetup::Cell(int column, int row) const
{
    const QTableWidgetItem *item = ui->SG1->item(row - 1, column);
    return item ? item->text() : QString();
}

void TSetup::SetCell(int column, int row, const QString &text)
{
    QTableWidget *grid = ui->SG1;
    QTableWidgetItem *item = grid->item(row - 1, column);
    if (!item) {
        item = new QTableWidgetItem;
        if (column == 0) {  // the fixed label column
            item->setFlags(Qt::ItemIsEnabled);
            item->setBackground(grid->palette().button());
        }
        grid->setItem(row - 1, column, item);
    }
    item->setText(text);
}

QString TSetup::CheckValues() const
{
    const QString topic = ui->Edit1->text();
    const platform::DdeTopic *other = FControl->Server ? FControl->Server->topic(topic) : nullptr;
    if (!platform::isValidDdeName(topic) || HasBlankOrControl(topic) || (other && other != FControl->ServerConv))
        return QStringLiteral("Недопустимое имя DDE раздела \"%1\": оно не может быть пустым, содержать пробелы "
                              "или совпадать с именем другого раздела.").arg(topic);

    const QString prefix = ui->Edit2->text();
    if (prefix.isEmpty() || HasBlankOrControl(prefix))
        return QStringLiteral("Недопустимое имя DDE объекта \"%1\": оно не может быть пустым или содержать пробелы.")
            .arg(prefix);
    const int count = ui->SE1->value();
    const std::array<const platform::DdeItem *, 4> shared{FControl->ChannelItem, FControl->ValueItem,
                                                          FControl->ChannelValueItem, FControl->StatusItem};
    for (int n = 1; n <= count && FControl->ServerConv; ++n) {
        const QString name = prefix + QString::number(n);
        const platform::DdeItem *item = FControl->ServerConv->item(name);
        if (!platform::isValidDdeName(name) || (item && std::find(shared.begin(), shared.end(), item) != shared.end()))
            return QStringLiteral("Недопустимое имя DDE объекта \"%1\": элемент \"%2\" уже существует.").arg(prefix, name);
    }

    for (int n = 1; n <= count; ++n) {
        for (int c = 1; c < ColumnCount; ++c) {
            if (!CellNumber(Cell(c, n), ColumnBits[c]))
                return QStringLiteral("'%1' is not a valid integer value (строка %2, столбец \"%3\")")
                    .arg(Cell(c, n), QString::number(n), HeaderTexts[c].trimmed());
        }
    }
    return QString();
}

bool TSetup::ApplySettings()
{
    // Everything is checked first: a refused value changes nothing, not even the sensor list.
    if (FControl->RunActive)
        return false;  // never reached: the window does not open during a run
    const QString problem = CheckValues();
    if (!problem.isEmpty()) {
        QMessageBox::warning(this, QStringLiteral("Tagpump Setup"), problem);
        return false;
    }
    TProgramControl &c = *FControl;
    c.ActivePageNumber = std::uint8_t(ui->PC1->currentIndex());
    if (c.ServerConv)
        c.ServerConv->setName(ui->Edit1->text());

    char buffer[COMPORT_TEXT_SIZE] = "COM1";
    char *port = buffer;
    std::uint16_t baud = 0;
    GetCOMCfg(c.PortHandle, &port, &baud, &c.TimeOut1, &c.TimeOut2, &c.TimeOut3);
    c.PortName = platform::fromCp1251(QByteArray(buffer));
    // A rate outside 16 bits reaches the port as 0: the one written stays unless the port
    // dialog chose another.
    if (baud != c.PortBaudRate())
        c.BaudR = baud;

    for (const auto &control : FlagControls)
        c.*control.Setting = (ui->*control.Control)->isChecked();
    for (const auto &control : TextControls)
        c.*control.Setting = (ui->*control.Control)->text();
    for (const auto &control : SpinControls)
        c.*control.Setting = std::uint16_t((ui->*control.Control)->value());
    c.SetHints(ui->ChB3->isChecked());
    c.ErrorValue = ui->CE1->value();

    c.FreeSensors();
    for (int n = 1; n <= ui->SE1->value(); ++n) {
        TASCIIChannel *channel = c.AddSensor();
        // The time column is read also while it is hidden.
        channel->DeviceNumber = std::uint8_t(*CellNumber(Cell(1, n), 8));
        channel->ChannelNumber = std::uint8_t(*CellNumber(Cell(2, n), 8));
        channel->Step = std::uint16_t(*CellNumber(Cell(3, n), 16));
        channel->TimeOut = std::uint16_t(*CellNumber(Cell(4, n), 16));
    }
    c.ConnectManagement();
    c.WriteLog(QStringLiteral("Tagpump"), QStringLiteral("Settings changed"));
    // Written at once: a lost display or a crash ends the program without its closing save. A
    // refused write has said why in its box; the values are applied all the same, so the window
    // closes as after a good save.
    c.SaveSettings();
    return true;
}

void TSetup::TakeSettingsSnapshot()
{
    SettingsSnapshot = SettingsFields(*FControl);
}

void TSetup::RestoreSettingsSnapshot()
{
    RestoreSettingsFields(*FControl, SettingsSnapshot);
}
