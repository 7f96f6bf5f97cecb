#include "about_u.h"

#include "driver_picture.h"
#include "ui_about_u.h"

#include <QAction>
#include <QDesktopServices>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>

const QString TAbout::MakerName = QStringLiteral("vks74xx & tagpump");
const QString TAbout::MakerLine = QStringLiteral("Made by the vks74xx project");
const QString TAbout::AuthorLine = QStringLiteral("Project team:");
const QString TAbout::AuthorMail = QStringLiteral("team@vks74xx.example");
const QString TAbout::WebPage = QStringLiteral("https://vks74xx.example/");
const QString TAbout::MakerMail = QStringLiteral("info@vks74xx.example");

QString PlatformLine(const platform::SystemDescription &system)
{
    if (system.KernelName.isEmpty())
        return QStringLiteral("Unknown System.... Sorry ;)");
    QString line = (system.KernelName + QLatin1Char(' ') + system.KernelRelease).trimmed();
    if (!system.Distribution.isEmpty())
        line += QStringLiteral(" (%1)").arg(system.Distribution);
    return line;
}

QString MemoryLine(const platform::SystemDescription &system)
{
    return QStringLiteral("Physical Memory:      %1 KB").arg(system.PhysicalMemory / 1024);
}

QPoint CentredOver(const QRect &mainWindow, const QSize &box)
{
    return {mainWindow.left() + mainWindow.width() / 2 - box.width() / 2,
            mainWindow.top() + mainWindow.height() / 2 - box.height() / 2};
}

TAbout::TVariant TAbout::SetupProgram(QWidget *mainWindow)
{
    TVariant v;
    v.Caption = QStringLiteral("О программе");
    v.Title = QStringLiteral("Настройка ВКС 7410(20) \r\nи ЛДМ 0612/К3");
    v.Version = QStringLiteral("Version 3.03");
    v.ClientSize = QSize(414, 258);
    v.AllLinksLive = false;
    v.CentreOver = mainWindow;
    return v;
}

TAbout::TVariant TAbout::DataDriver()
{
    TVariant v;
    v.Caption = QStringLiteral("About Tagpump");
    v.Title = QStringLiteral("Tagpump");
    v.Version = QStringLiteral("Version 1.04");
    v.ClientSize = QSize(389, 257);
    v.Picture = DriverPicture(QSize(143, 249));
    v.AllLinksLive = true;
    return v;
}

TAbout::TAbout(const TVariant &variant, QWidget *parent, TSystemSource system)
    : QDialog(parent), ui(new Ui::TAbout), FVariant(variant), FSystem(std::move(system))
{
    ui->setupUi(this);
    setWindowTitle(variant.Caption);
    setFixedSize(variant.ClientSize);
    // "\r\n" separates the title's lines; a label breaks at "\n" alone.
    ui->Label2->setText(QString(variant.Title).remove(QLatin1Char('\r')));
    ui->Label3->setText(variant.Version);
    ui->Label1->setText(MakerName);
    ui->Label4->setText(MakerLine);
    ui->Label5->setText(AuthorLine);
    ui->Href1->setText(AuthorMail);
    ui->Href2->setText(WebPage);
    ui->Href3->setText(MakerMail);
    ui->Image1->setPixmap(variant.Picture);
    // The web and mail addresses of the project are blue; the author's keeps the box's font.
    for (QLabel *link : {ui->Href2, ui->Href3})
        link->setStyleSheet(QStringLiteral("color: #0000ff;"));

    // Moves without a button reach the box (and each live label) only while they track them.
    setMouseTracking(true);
    for (QLabel *link : {ui->Href1, ui->Href2, ui->Href3}) {
        if (IsLive(link)) {
            link->setMouseTracking(true);
            link->installEventFilter(this);
        }
    }
    if (!FSystem)
        FSystem = [] { return platform::RunningSystem(); };
    ShowSystemInfo();
}

TAbout::~TAbout()
{
    delete ui;
}

void TAbout::OpenFrom(QAction *command)
{
    connect(command, &QAction::triggered, this, [this] { exec(); });
}

void TAbout::ShowSystemInfo()
{
    const platform::SystemDescription system = FSystem();
    ui->SLabel1->setText(PlatformLine(system));
    ui->SLabel2->setText(MemoryLine(system));
}

bool TAbout::IsLive(const QObject *label) const
{
    return label == ui->Href1 || (FVariant.AllLinksLive && (label == ui->Href2 || label == ui->Href3));
}

void TAbout::SetUnderline(QLabel *label, bool on)
{
    QFont font = label->font();
    font.setUnderline(on);
    label->setFont(font);
}

void TAbout::OpenLink(const QLabel *label)
{
    const QString target = label == ui->Href2 ? label->text() : QStringLiteral("mailto:") + label->text();
    // No mail program or browser: nothing happens, as nothing is reported.
    QDesktopServices::openUrl(QUrl(target));
}

void TAbout::showEvent(QShowEvent *event)
{
    QWidget *over = FVariant.CentreOver;
    if (over)
        move(CentredOver(over->frameGeometry(), frameGeometry().size()));
    else if (const QScreen *screen = this->screen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    QDialog::showEvent(event);
}

void TAbout::mouseMoveEvent(QMouseEvent *event)
{
    // Only the box's free surface takes the underline away; moves over the picture panel, the
    // button or a label that is not live leave it.
    if (!childAt(event->position().toPoint())) {
        for (QLabel *link : {ui->Href1, ui->Href2, ui->Href3})
            SetUnderline(link, false);
    }
    QDialog::mouseMoveEvent(event);
}

bool TAbout::eventFilter(QObject *watched, QEvent *event)
{
    auto *label = qobject_cast<QLabel *>(watched);
    if (label && IsLive(label)) {
        if (event->type() == QEvent::MouseMove) {
            SetUnderline(label, true);
            return true;
        }
        if (event->type() == QEvent::MouseButtonRelease) {
            const auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint()))
                OpenLink(label);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
