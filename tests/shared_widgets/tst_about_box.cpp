// The About box of both programs: captions, titles and versions, the live and dead address
// labels (hover and click, a desktop that cannot open them), the centring over the setup
// program's main window, and the two system lines from a known system and from this one.
#include "tests/support/setup_window_fixture.h"

#include "shared_widgets/about_u.h"
#include "ui_about_u.h"

#include <QDesktopServices>
#include <QSysInfo>
#include <QTemporaryFile>

#include <algorithm>

using namespace fixture;
using platform::SystemDescription;

namespace {

// A system with a different value in every field, memory above 4 GB with a remainder.
SystemDescription KnownSystem()
{
    return {QStringLiteral("Linux"), QStringLiteral("6.1.0-18-amd64"), QStringLiteral("Debian GNU/Linux 12 (bookworm)"),
            8ull * 1024 * 1024 * 1024 + 1023};
}

// The addresses the desktop was asked to open.
class TOpened : public QObject {
    Q_OBJECT
public:
    QStringList Urls;
public slots:
    void Open(const QUrl &url) { Urls << url.toString(); }
};

void MoveOver(QWidget *widget, QPoint pos = QPoint(3, 3))
{
    QTest::mouseMove(widget, pos);
    QMouseEvent move(QEvent::MouseMove, pos, widget->mapToGlobal(pos), Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(widget, &move);
}

bool Underlined(const QLabel *label) { return label->font().underline(); }

} // namespace

class TestAboutBox : public QObject {
    Q_OBJECT
    TOpened opened;

private slots:
    void initTestCase()
    {
        RemoveSettings();
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &opened, "Open");
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &opened, "Open");
    }
    void init() { opened.Urls.clear(); }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        RemoveSettings();  // the windows' program settings, written as each closed
    }

    void textsOfEachProgram()
    {
        TfMain window;
        TAbout setup(TAbout::SetupProgram(&window), &window, KnownSystem);
        QCOMPARE(setup.windowTitle(), QStringLiteral("О программе"));
        QCOMPARE(setup.ui->Label2->text(), QStringLiteral("Настройка ВКС 7410(20) \nи ЛДМ 0612/К3"));
        QVERIFY(setup.ui->Label2->alignment() & Qt::AlignHCenter);
        QCOMPARE(setup.ui->Label3->text(), QStringLiteral("Version 3.03"));
        QCOMPARE(setup.size(), QSize(414, 258));
        QVERIFY(setup.ui->Image1->pixmap().isNull());
        QVERIFY(setup.ui->Button1->isDefault());

        TAbout driver(TAbout::DataDriver(), nullptr, KnownSystem);
        QCOMPARE(driver.windowTitle(), QStringLiteral("About Tagpump"));
        QCOMPARE(driver.ui->Label2->text(), QStringLiteral("Tagpump"));
        QCOMPARE(driver.ui->Label3->text(), QStringLiteral("Version 1.04"));
        QCOMPARE(driver.size(), QSize(389, 257));
        QVERIFY(!driver.ui->Image1->pixmap().isNull());

        for (const TAbout *box : {&setup, &driver}) {
            QCOMPARE(box->ui->Label1->text(), TAbout::MakerName);
            QCOMPARE(box->ui->Href1->text(), TAbout::AuthorMail);
            QCOMPARE(box->ui->Href2->text(), TAbout::WebPage);
            QCOMPARE(box->ui->Href3->text(), TAbout::MakerMail);
            for (const QLabel *link : {box->ui->Href1, box->ui->Href2, box->ui->Href3})
                QCOMPARE(link->cursor().shape(), Qt::PointingHandCursor);
        }
    }

    // "О программе..." shows the box modally, over the main window.
    void menuItemShowsTheBox()
    {
        TfMain window;
        window.show();
        TAbout box(TAbout::SetupProgram(&window), &window, KnownSystem);
        box.OpenFrom(window.ui->M9N9);
        bool seen = false;
        QTimer::singleShot(0, &box, [&] {
            seen = box.isVisible() && box.isModal();
            box.ui->Button1->click();
        });
        window.ui->M9N9->trigger();
        QVERIFY(seen);
        QVERIFY(!box.isVisible());
        QCOMPARE(box.result(), int(QDialog::Accepted));
    }

    // The setup program: only the author's address is live; the underline stays until the
    // mouse reaches the box's free surface, not the button.
    void setupProgramLinks()
    {
        TfMain window;
        TAbout box(TAbout::SetupProgram(&window), &window, KnownSystem);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        MoveOver(box.ui->Href2);
        MoveOver(box.ui->Href3);
        QVERIFY(!Underlined(box.ui->Href2) && !Underlined(box.ui->Href3));
        MoveOver(box.ui->Href1);
        QVERIFY(Underlined(box.ui->Href1));
        MoveOver(box.ui->Button1);
        MoveOver(&box, box.ui->Panel1->geometry().center());
        QVERIFY(Underlined(box.ui->Href1));
        MoveOver(&box, QPoint(box.width() - 2, 1));  // the free margin at the top right
        QVERIFY(!Underlined(box.ui->Href1));

        QTest::mouseClick(box.ui->Href2, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseClick(box.ui->Href3, Qt::LeftButton, {}, QPoint(3, 3));
        QVERIFY(opened.Urls.isEmpty());
        QTest::mouseClick(box.ui->Href1, Qt::LeftButton, {}, QPoint(3, 3));
        QCOMPARE(opened.Urls, QStringList("mailto:" + TAbout::AuthorMail));
        QVERIFY(box.isVisible());
    }

    void driverLinks()
    {
        TAbout box(TAbout::DataDriver(), nullptr, KnownSystem);
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        for (QLabel *link : {box.ui->Href2, box.ui->Href3}) {
            MoveOver(link);
            QVERIFY(Underlined(link));
            QTest::mouseClick(link, Qt::LeftButton, {}, QPoint(3, 3));
        }
        QCOMPARE(opened.Urls, QStringList({TAbout::WebPage, "mailto:" + TAbout::MakerMail}));
        // A press that ends outside the label opens nothing.
        QTest::mousePress(box.ui->Href3, Qt::LeftButton, {}, QPoint(3, 3));
        QTest::mouseRelease(box.ui->Href3, Qt::LeftButton, {}, QPoint(-20, 3));
        QCOMPARE(opened.Urls.size(), 2);
    }

    // No handler for the address: the offscreen desktop opens nothing, the box stays and shows
    // nothing more.
    void failureToOpenIsIgnored()
    {
        if (QGuiApplication::platformName() != QLatin1String("offscreen"))
            QSKIP("only the offscreen platform has no desktop handler to start");
        QDesktopServices::unsetUrlHandler(QStringLiteral("mailto"));
        TAbout box(TAbout::DataDriver(), nullptr, KnownSystem);
        box.show();
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("openUrl"));
        QTest::mouseClick(box.ui->Href1, Qt::LeftButton, {}, QPoint(3, 3));
        QVERIFY(box.isVisible());
        QCOMPARE(std::ranges::count_if(QApplication::topLevelWidgets(), [](QWidget *w) { return w->isVisible(); }), 1);
        QDesktopServices::setUrlHandler(QStringLiteral("mailto"), &opened, "Open");
    }

    void centredOverTheMainWindow()
    {
        // Each half truncated on its own: (640 - 415) / 2 would give 112, not 113.
        QCOMPARE(CentredOver(QRect(101, 53, 640, 479), QSize(415, 259)), QPoint(101 + 320 - 207, 53 + 239 - 129));
        // Near the screen's edge the box goes beyond it.
        QCOMPARE(CentredOver(QRect(-300, -20, 200, 101), QSize(414, 258)), QPoint(-300 + 100 - 207, -20 + 50 - 129));

        TfMain window;
        window.setGeometry(37, 61, 700, 501);
        window.show();
        TAbout box(TAbout::SetupProgram(&window), &window, KnownSystem);
        for (const QPoint place : {QPoint(37, 61), QPoint(455, 23)}) {
            window.move(place);
            box.show();
            QTRY_COMPARE(box.frameGeometry().topLeft(),
                         CentredOver(window.frameGeometry(), box.frameGeometry().size()));
            box.hide();
        }
    }

    void systemLines()
    {
        int asked = 0;
        TAbout box(TAbout::SetupProgram(nullptr), nullptr, [&] {
            ++asked;
            return KnownSystem();
        });
        QCOMPARE(box.ui->SLabel1->text(), QStringLiteral("Linux 6.1.0-18-amd64 (Debian GNU/Linux 12 (bookworm))"));
        QCOMPARE(box.ui->SLabel2->text(), QStringLiteral("Physical Memory:      8388608 KB"));
        box.show();
        box.hide();
        box.show();
        QCOMPARE(asked, 1);

        SystemDescription bare{QStringLiteral("Linux"), QStringLiteral("5.10.0"), QString(), 512ull * 1024 * 1024};
        QCOMPARE(PlatformLine(bare), QStringLiteral("Linux 5.10.0"));
        QCOMPARE(MemoryLine(bare), QStringLiteral("Physical Memory:      524288 KB"));
        QCOMPARE(PlatformLine({}), QStringLiteral("Unknown System.... Sorry ;)"));
    }

    void thisSystem()
    {
        QCOMPARE(platform::DistributionName("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian \\\"12\\\" x\"\n"),
                 QStringLiteral("Debian \"12\" x"));
        QCOMPARE(platform::DistributionName("# comment\nNAME='Alpine Linux'\nVERSION=3.19\n"),
                 QStringLiteral("Alpine Linux 3.19"));
        QCOMPARE(platform::DistributionName("ID=x\n"), QString());

        QTemporaryFile osRelease;
        QVERIFY(osRelease.open());
        osRelease.write("ID=test\nPRETTY_NAME=\"Test OS 7\"\n");
        osRelease.close();
        const SystemDescription running = platform::RunningSystem(osRelease.fileName());
        QCOMPARE(running.KernelName.toLower(), QSysInfo::kernelType());
        QCOMPARE(running.KernelRelease, QSysInfo::kernelVersion());
        QCOMPARE(running.Distribution, QStringLiteral("Test OS 7"));
        QVERIFY(running.PhysicalMemory > 16ull * 1024 * 1024);
        QVERIFY(platform::RunningSystem(osRelease.fileName() + ".missing").Distribution.isEmpty());
    }
};

int main(int argc, char **argv)
{
    return fixture::Run<TestAboutBox>(argc, argv);
}

#include "tst_about_box.moc"
