// Every text of the main window fits its control: the tab captions at the default width, the
// captions of labels, buttons, boxes and group frames, and the longest value a float field must
// show (a sign, five integer digits, three decimals), in both font styles. The window cannot be
// made smaller than its content.
//
// With VKS_GRAB_DIR set, every tab is also saved as a PNG in both font styles, to be looked at.
#include "tests/support/setup_window_fixture.h"

#include "tests/support/text_fit.h"

#include "port_box.h"

#include <QAbstractItemView>
#include <QTabBar>
#include <QToolButton>

using namespace fixture;
using textfit::CutTexts;
using textfit::TextRoom;

namespace {

const QString LongestFloat = QStringLiteral("-99999.999");

// Port names of real lengths, each with the end that must show: all of a short name, and of an
// adapter's stable name its serial number with what follows.
const QList<std::pair<QString, QString>> PortNames{
    {QStringLiteral("/dev/pts/2"), QStringLiteral("/dev/pts/2")},
    {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyUSB0")},
    {QStringLiteral("/dev/ttyACM12"), QStringLiteral("/dev/ttyACM12")},
    {QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A1B2C3D4-if00-port0"),
     QStringLiteral("A1B2C3D4-if00-port0")},
    {QStringLiteral("/dev/serial/by-id/usb-Silicon_Labs_CP2102N_USB_to_UART_Bridge_Controller_"
                    "0001a2b3c4d5e6f7a8b9c0d1e2f3a4b5-if00-port0"),
     QStringLiteral("e2f3a4b5-if00-port0")},
};

// The ways a port list does not show a name as it must: closed, in its tooltip, open.
QStringList PortNameProblems(TPortBox *box, const QString &style)
{
    QStringList problems;
    const QString grabDir = qEnvironmentVariable("VKS_GRAB_DIR");
    for (const auto &[name, end] : PortNames) {
        box->setCurrentIndex(box->findText(name));
        QCoreApplication::processEvents();
        const QString shown = box->ShownText();
        const bool whole = shown == name;
        const bool endShown = shown.startsWith(QChar(0x2026)) && name.endsWith(shown.mid(1)) && shown.endsWith(end)
                              && shown.size() > end.size();
        if (box->currentText() != name)
            problems << QStringLiteral("%1, %2 holds \"%3\"").arg(style, box->objectName(), box->currentText());
        if (!whole && !endShown)
            problems << QStringLiteral("%1, %2 shows \"%3\" of \"%4\"").arg(style, box->objectName(), shown, name);
        if (box->toolTip() != name)
            problems << QStringLiteral("%1, %2 tooltip \"%3\"").arg(style, box->objectName(), box->toolTip());
        box->showPopup();
        if (!QTest::qWaitFor([box] { return box->view()->isVisible(); }))
            problems << QStringLiteral("%1, %2 does not open").arg(style, box->objectName());
        const int needed = box->view()->fontMetrics().horizontalAdvance(name);
        if (box->view()->viewport()->width() < needed)
            problems << QStringLiteral("%1, %2 open: %3 < %4")
                            .arg(style, box->objectName()).arg(box->view()->viewport()->width()).arg(needed);
        if (!grabDir.isEmpty() && name == PortNames.last().first)
            box->view()->window()->grab().save(QStringLiteral("%1/%2-open-%3.png").arg(grabDir, box->objectName(), style));
        box->hidePopup();
    }
    return problems;
}

} // namespace

class TestMainWindowFit : public QObject {
    Q_OBJECT

private:
    std::unique_ptr<TfMain> OpenWindow()
    {
        RemoveSettings();
        auto window = std::make_unique<TfMain>();
        window->show();
        NewProject(*window);
        return window;
    }

    void CloseWindow(std::unique_ptr<TfMain> &window)
    {
        AnswerNextMessage(QMessageBox::No);
        window->close();
        window.reset();
        RemoveSettings();
    }

    // The float fields of the form: the edits the program fills with floats.
    static QList<QLineEdit *> FloatFields(TfMain &window)
    {
        QList<QLineEdit *> fields;
        for (QLineEdit *edit : window.findChildren<QLineEdit *>()) {
            const QString name = edit->objectName();
            if (name.startsWith(QLatin1String("TS")) && name.contains(QLatin1String("Edit")))
                fields << edit;
        }
        return fields;
    }

    // The texts that do not fit on any tab, as lines naming control, text and widths.
    QStringList CutOnEveryTab(TfMain &window, const QString &style)
    {
        QStringList problems;
        const QString grabDir = qEnvironmentVariable("VKS_GRAB_DIR");
        QTabWidget *tabs = window.ui->PC0;
        for (int i = 0; i < tabs->count(); ++i) {
            tabs->setCurrentIndex(i);
            QWidget *page = tabs->widget(i);
            if (!QTest::qWaitFor([page] { return page->isVisible(); }))
                problems << tabs->tabText(i) + QLatin1String(" not shown");
            QCoreApplication::processEvents();
            for (const QString &cut : CutTexts(page))
                problems << QStringLiteral("%1, %2: %3").arg(style, tabs->tabText(i), cut);
            for (QLineEdit *edit : page->findChildren<QLineEdit *>()) {
                if (!FloatFields(window).contains(edit) || !edit->isVisible())
                    continue;
                const int needed = edit->fontMetrics().horizontalAdvance(LongestFloat);
                if (needed > TextRoom(edit))
                    problems << QStringLiteral("%1, %2: \"%3\" needs %4 px, has %5")
                                    .arg(style, edit->objectName(), LongestFloat)
                                    .arg(needed).arg(TextRoom(edit));
            }
            if (!grabDir.isEmpty())
                window.grab().save(QStringLiteral("%1/tab%2-%3.png").arg(grabDir).arg(i).arg(style));
        }
        return problems;
    }

private slots:
    void everyTextFitsInBothFontStyles()
    {
        auto window = OpenWindow();
        QCOMPARE(window->size(), QSize(567, 466));
        for (QLineEdit *edit : FloatFields(*window))
            edit->setText(LongestFloat);

        // All six tab captions are shown at the default width: no scroll arrows.
        QTabBar *bar = window->ui->PC0->tabBar();
        QTRY_VERIFY(bar->isVisible());
        QStringList tabProblems;
        if (bar->tabRect(bar->count() - 1).right() >= bar->width())
            tabProblems << QStringLiteral("tabs need %1 px, have %2")
                               .arg(bar->tabRect(bar->count() - 1).right() + 1).arg(bar->width());

        QStringList problems = tabProblems + CutOnEveryTab(*window, QStringLiteral("plain"));
        window->ui->M1N4->trigger();
        QVERIFY(window->ui->M1N4->isChecked());
        problems += CutOnEveryTab(*window, QStringLiteral("bold"));
        window->ui->M1N4->trigger();
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        CloseWindow(window);
    }

    void portNamesShowTheirDistinguishingEnd()
    {
        auto window = OpenWindow();
        window->ui->PC0->setCurrentWidget(window->ui->TS0);
        QTRY_VERIFY(window->ui->TS0->isVisible());
        for (TPortBox *box : {window->ui->TS0CB0, window->ui->TS0CB2}) {
            for (const auto &name : PortNames)
                box->addItem(name.first);
        }
        // Long names neither widen the window nor cut another text of the tab.
        QCOMPARE(window->size(), QSize(567, 466));
        QStringList problems;
        const QString grabDir = qEnvironmentVariable("VKS_GRAB_DIR");
        for (const QString &style : {QStringLiteral("plain"), QStringLiteral("bold")}) {
            if (style == QLatin1String("bold"))
                window->ui->M1N4->trigger();
            QCoreApplication::processEvents();
            for (const QString &cut : textfit::CutTexts(window->ui->TS0))
                problems << style + QLatin1String(": ") + cut;
            for (TPortBox *box : {window->ui->TS0CB0, window->ui->TS0CB2})
                problems += PortNameProblems(box, style);
            if (!grabDir.isEmpty())
                window->grab().save(QStringLiteral("%1/ports-%2.png").arg(grabDir, style));
        }
        window->ui->M1N4->trigger();
        QCOMPARE(window->size(), QSize(567, 466));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        CloseWindow(window);
    }

    void windowCannotShrinkBelowItsContent()
    {
        auto window = OpenWindow();
        const QSize minimum = window->minimumSize().expandedTo(window->minimumSizeHint());
        QVERIFY(minimum.width() > 300 && minimum.height() > 300);
        window->resize(100, 100);
        QTRY_VERIFY(window->width() >= minimum.width() && window->height() >= minimum.height());
        // At the smallest size every text still fits.
        const QStringList problems = CutOnEveryTab(*window, QStringLiteral("smallest"));
        QVERIFY2(problems.isEmpty(), qPrintable(problems.join(QLatin1Char('\n'))));
        CloseWindow(window);
    }
};

int main(int argc, char **argv)
{
    SetFirstArgument("/INT");
    return Run<TestMainWindowFit>(argc, argv);
}

#include "tst_mainwindow_fit.moc"
