// Every text of the driver's windows fits its control at the designed sizes: the main window
// with each caption its buttons and status panels take (the clock at every hour), the settings
// window's three pages with every dependent control shown, and comport's "COM-Setup" dialog,
// whose texts are Russian like the rest of the program's own.
//
// With VKS_GRAB_DIR set, each window is also saved as a PNG, to be looked at.
#include "main_u.h"
#include "prgcontrol.h"
#include "setup_u.h"
#include "variableset.h"

#include "extlibs/comport/comport.h"
#include "platform/messages.h"
#include "tests/dde/dde_test_support.h"
#include "tests/support/text_fit.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QSpinBox>
#include <QStatusBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

// `label` shows each of `texts` whole (its size hint measures the text with the frame).
QStringList CutInLabel(QLabel *label, const QStringList &texts)
{
    QStringList cut;
    const QString shown = label->text();
    for (const QString &text : texts) {
        label->setText(text);
        if (label->width() < label->sizeHint().width())
            cut << QStringLiteral("%1 \"%2\": %3 < %4").arg(label->objectName(), text).arg(label->width()).arg(label->sizeHint().width());
    }
    label->setText(shown);
    return cut;
}

QStringList CutInButton(QPushButton *button, const QStringList &captions)
{
    QStringList cut;
    const QString shown = button->text();
    for (const QString &caption : captions) {
        button->setText(caption);
        cut += textfit::CutTexts(button->parentWidget()).filter(button->objectName());
    }
    button->setText(shown);
    return cut;
}

// The largest value of a spin box (or `largest`, when given) shows whole in its edit.
QStringList CutInSpin(QSpinBox *spin, int largest = -1)
{
    QLineEdit *edit = spin->findChild<QLineEdit *>();
    const QString text = QString::number(largest < 0 ? spin->maximum() : largest);
    const int needed = edit->fontMetrics().horizontalAdvance(text);
    if (needed <= textfit::TextRoom(edit))
        return {};
    return {QStringLiteral("%1 \"%2\": needs %3 px, has %4").arg(spin->objectName(), text).arg(needed).arg(textfit::TextRoom(edit))};
}

void Grab(QWidget *window, const QString &name)
{
    const QString dir = qEnvironmentVariable("VKS_GRAB_DIR");
    if (!dir.isEmpty())
        window->grab().save(QStringLiteral("%1/%2-%3.png").arg(dir, name, QGuiApplication::platformName()));
}

} // namespace

class TestDriverFit : public QObject {
    Q_OBJECT

    std::unique_ptr<platform::ApplicationWindow> appWindow;
    std::unique_ptr<QTemporaryDir> folder;
    std::unique_ptr<TMain> main;

private slots:
    void initTestCase()
    {
        QVERIFY(useOwnRuntimeDir());
        appWindow = std::make_unique<platform::ApplicationWindow>();
        folder = std::make_unique<QTemporaryDir>();
        QVERIFY(QDir::setCurrent(folder->path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(folder->path() + QStringLiteral("/config")));
        main = std::make_unique<TMain>();
        QCOMPARE(main->InitializeDriver({QStringLiteral("/s")}, QStringLiteral("drvfit%1").arg(QCoreApplication::applicationPid())),
                 TMain::StartResult::Started);
        main->show();
        QVERIFY(QTest::qWaitForWindowExposed(main.get()));
    }
    void cleanupTestCase() { main.reset(); }

    void mainWindowTextsFit()
    {
        QStringList clock;
        for (int hour = 0; hour < 24; ++hour)
            clock << LongTimeText(QTime(hour, 58, 58));
        const auto panel = [this](int i) { return main->findChild<QLabel *>(QStringLiteral("SB1Panel%1").arg(i)); };
        QStringList problems = textfit::CutTexts(main.get());
        problems += CutInLabel(panel(0), clock << QStringLiteral("Time"));
        problems += CutInLabel(panel(1), {"Stay State", "Adjustment State", "Work State"});
        problems += CutInLabel(panel(2), {"Ok", "Error"});
        problems += CutInLabel(main->findChild<QLabel *>(QStringLiteral("ST1")), {"65535"});
        problems += CutInButton(main->findChild<QPushButton *>(QStringLiteral("Button1")), {"&Action", "&Stop", "&Wait"});
        problems += CutInButton(main->findChild<QPushButton *>(QStringLiteral("Button2")), {"&Hide", "&Setup"});
        // The status bar holds its panels whole.
        QStatusBar *bar = main->findChild<QStatusBar *>(QStringLiteral("SB1"));
        if (panel(2)->geometry().right() >= bar->width())
            problems << QStringLiteral("status bar %1 px, panels need %2").arg(bar->width()).arg(panel(2)->geometry().right() + 1);
        panel(0)->setText(clock.first());
        panel(1)->setText(QStringLiteral("Adjustment State"));
        main->findChild<QLabel *>(QStringLiteral("ST1"))->setText(QStringLiteral("65535"));
        Grab(main.get(), QStringLiteral("driver-main"));
        panel(1)->setText(QStringLiteral("Stay State"));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    void settingsWindowTextsFit()
    {
        TSetup setup(PrgControl, main.get());
        setup.show();
        QVERIFY(QTest::qWaitForWindowExposed(&setup));
        for (const char *box : {"ChB4", "ChB6", "ChB7", "ChB5"})
            setup.findChild<QCheckBox *>(QLatin1String(box))->setChecked(true);
        QStringList problems;
        auto *pages = setup.findChild<QTabWidget *>(QStringLiteral("PC1"));
        QTabBar *tabs = pages->tabBar();
        if (tabs->tabRect(tabs->count() - 1).right() >= tabs->width())
            problems << QStringLiteral("tabs need %1 px, have %2").arg(tabs->tabRect(tabs->count() - 1).right() + 1).arg(tabs->width());
        for (int i = 0; i < pages->count(); ++i) {
            pages->setCurrentIndex(i);
            QTRY_VERIFY(pages->widget(i)->isVisible());
            problems += textfit::CutTexts(pages->widget(i));
            Grab(&setup, QStringLiteral("driver-setup%1").arg(i));
        }
        problems += textfit::CutTexts(&setup).filter(QRegularExpression(QStringLiteral("^Button[12] ")));
        for (const char *spin : {"SE1", "SE2", "SE3"})
            problems += CutInSpin(setup.findChild<QSpinBox *>(QLatin1String(spin)));
        // The count of a list as long as a settings file may bring.
        problems += CutInSpin(setup.findChild<QSpinBox *>(QStringLiteral("SE1")), TProgramControl::MaxSensors);
        auto *grid = setup.findChild<QTableWidget *>(QStringLiteral("SG1"));
        for (int c = 0; c < grid->columnCount(); ++c) {
            const QString text = grid->horizontalHeaderItem(c)->text();
            const int needed = grid->horizontalHeader()->fontMetrics().horizontalAdvance(text) + 4;
            if (grid->columnWidth(c) < needed)
                problems << QStringLiteral("SG1 header \"%1\": %2 < %3").arg(text).arg(grid->columnWidth(c)).arg(needed);
        }
        setup.Modified = false;  // closes without the question
        setup.close();
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }

    void comSetupDialogIsRussianAndFits()
    {
        QStringList problems;
        QString title;
        QStringList captions;
        QTimer::singleShot(0, this, [&] {
            QTRY_VERIFY(qobject_cast<QDialog *>(QApplication::activeModalWidget()));
            QWidget *dialog = QApplication::activeModalWidget();
            title = dialog->windowTitle();
            for (QLabel *label : dialog->findChildren<QLabel *>())
                captions << label->text();
            for (QPushButton *button : dialog->findChildren<QPushButton *>())
                captions << button->text();
            problems = textfit::CutTexts(dialog);
            Grab(dialog, QStringLiteral("comport-setup"));
            static_cast<QDialog *>(dialog)->reject();
        });
        std::uint8_t changed = 7;
        ShowCOMWin(PrgControl->PortHandle, -1, -1, &changed);
        QCOMPARE(changed, std::uint8_t(0));
        QCOMPARE(title, QStringLiteral("Настройка COM-порта"));
        QCOMPARE(captions.size(), 7);  // five labels, two buttons
        for (const QString &caption : captions) {
            const bool russian = caption.contains(QRegularExpression(QStringLiteral("[а-яА-Я]")));
            QVERIFY2(russian || caption == QLatin1String("OK"), qPrintable(caption));
        }
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(u'\n')));
    }
};

QTEST_MAIN(TestDriverFit)
#include "tst_driver_fit.moc"
