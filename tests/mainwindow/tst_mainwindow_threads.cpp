// The main window's machinery driven from worker threads: program messages, the exchange
// label and gauge, the search reports, the start/stop buttons and the closing rule.
#include "tests/support/setup_window_fixture.h"

#include "exchange_u.h"
#include "filedialog_u.h"
#include "prjctrl_u.h"

#include <QFileDialog>
#include <QProgressBar>

#include <atomic>

using namespace fixture;

namespace {

// A measurement loop as the loops run it: RunFlag up before the stop caption shows, samples
// under the link lock until a stop is asked, then the start caption back.
struct TFakeLoop {
    QPushButton *Button;
    std::atomic<int> Starts{0};
    std::atomic<int> Samples{0};

    void operator()()
    {
        ++Starts;  // the start click has raised RunFlag and shown the stop caption
        while (RunFlag == 1) {
            COMPortMutex().lock();
            ++Samples;
            COMPortMutex().unlock();
            QThread::msleep(1);  // the loop's pause between samples
        }
        RunOnWindowThread([this] { Button->setText(QStringLiteral("Начать измерение")); });
    }
};

} // namespace

class TestMainWindowThreads : public QObject {
    Q_OBJECT

    std::unique_ptr<TfMain> window;
    TProgramControl *control = nullptr;

private slots:
    void init()
    {
        RemoveSettings();
        window = std::make_unique<TfMain>();
        window->show();
        control = window->ProgramControl;
    }
    void cleanup()
    {
        QTRY_COMPARE(TExchange::Running(), 0);
        window.reset();
        RemoveSettings();
    }

    void workerMessageBlocksUntilAnswered()
    {
        std::atomic<int> result{-1};
        bool checked = false;
        WatchMessages([&](QMessageBox *box) {
            checked = true;
            // The worker is still waiting while the box is up.
            [&] {
                QCOMPARE(result.load(), -1);
                QCOMPARE(box->windowTitle(), QStringLiteral("Confirm"));
                QCOMPARE(box->text(), QStringLiteral("Начать поиск приборов?\nДа?"));
                QVERIFY(box->button(QMessageBox::Yes) && box->button(QMessageBox::No));
                QVERIFY(!box->button(QMessageBox::Ok));
                // Centred on the main window.
                const QRect main = window->frameGeometry(), self = box->frameGeometry();
                QCOMPARE(self.topLeft(), QPoint(main.x() + main.width() / 2 - self.width() / 2,
                                                main.y() + main.height() / 2 - self.height() / 2));
            }();
            box->button(QMessageBox::No)->click();
            return true;
        });
        QPointer<TExchange> worker = TExchange::Start([&] {
            result = control->ShowProgramMessage(false, QStringLiteral("Начать поиск приборов?\rДа?"),
                                                 mtConfirmation, mbYesNo);
        });
        QTRY_COMPARE(result.load(), int(mrNo));
        QVERIFY(checked);
        QTRY_VERIFY(worker.isNull());  // the thread has gone by itself
    }

    void messageOptionsDecideWhatIsShown_data()
    {
        QTest::addColumn<QString>("option");
        QTest::addColumn<int>("kind");
        QTest::addColumn<QString>("title");
        QTest::newRow("warning") << "M1N2" << int(mtWarning) << "Warning";
        QTest::newRow("error") << "M1N2" << int(mtError) << "Error";
        QTest::newRow("information") << "M1N1" << int(mtInformation) << "Information";
        QTest::newRow("confirmation") << "M1N3" << int(mtConfirmation) << "Confirm";
    }
    void messageOptionsDecideWhatIsShown()
    {
        QFETCH(QString, option);
        QFETCH(int, kind);
        QFETCH(QString, title);
        auto *item = window->findChild<QAction *>(option);
        NewProject(*window);  // the options are offered with a project open
        auto raise = [&](bool force) {
            std::atomic<int> result{-1};
            TExchange::Start([&] {
                result = control->ShowProgramMessage(force, QStringLiteral("text"), TMessageKind(kind), mbYesNoCancel);
            });
            return QTest::qWaitFor([&] { return result != -1; }, 10000) ? result.load() : -2;
        };

        // Ticked: shown, with the kind's caption.
        auto answer = AnswerNextMessage(QMessageBox::Cancel);
        QCOMPARE(raise(false), int(mrCancel));
        QVERIFY(answer->Answered);
        QCOMPARE(answer->Title, title);

        // Unticked: not shown, answered OK; the other options do not matter.
        item->trigger();
        QVERIFY(!item->isChecked());
        QCOMPARE(raise(false), int(mrOk));

        // Forced: shown whatever the option says.
        answer = AnswerNextMessage(QMessageBox::Yes);
        QCOMPARE(raise(true), int(mrYes));
        QVERIFY(answer->Answered);

        // Custom messages are always shown.
        answer = AnswerNextMessage(QMessageBox::Ok);
        std::atomic<int> result{-1};
        TExchange::Start([&] { result = control->ShowProgramMessage(false, QStringLiteral("x"), mtCustom, mbOK); });
        QTRY_COMPARE(result.load(), int(mrOk));
        QVERIFY(answer->Answered);
    }

    void windowThreadMessageIsShownAtOnce()
    {
        auto answer = AnswerNextMessage(QMessageBox::Ok);
        QCOMPARE(control->ShowProgramMessage(false, QStringLiteral("Поиск приборов завершен."), mtInformation, mbOKCancel),
                 std::uint16_t(mrOk));
        QVERIFY(answer->Answered);
        QCOMPARE(answer->Title, QStringLiteral("Information"));
    }

    void concurrentSendersTakeTurns()
    {
        constexpr int Workers = 4;
        std::atomic<int> results[Workers];
        for (int i = 0; i < Workers; ++i)
            results[i] = -1;
        for (int i = 0; i < Workers; ++i) {
            TExchange::Start([&, i] {
                results[i] = control->ShowProgramMessage(true, QString::number(i), mtConfirmation, mbYesNo);
            });
        }
        // Answer each message by its text: even ones Yes, odd ones No.
        int answered = 0;
        WatchMessages([&](QMessageBox *box) {
            const int i = box->text().toInt();
            box->button(i % 2 ? QMessageBox::No : QMessageBox::Yes)->click();
            return ++answered == Workers;
        });
        for (int i = 0; i < Workers; ++i)
            QTRY_COMPARE(results[i].load(), i % 2 ? int(mrNo) : int(mrYes));
    }

    void progressGaugeRule()
    {
        QProgressBar *gauge = control->ProgressGauge();
        auto fromWorker = [&](std::function<void()> step) {
            std::atomic<bool> done{false};
            TExchange::Start([&] {
                step();
                done = true;
            });
            QTRY_VERIFY(done);
        };
        auto state = [&] { return QList<int>{gauge->isVisible(), gauge->minimum(), gauge->maximum(), gauge->value()}; };

        fromWorker([&] { control->SetProgress(1, 0, -1, 0); });  // an empty transfer
        QCOMPARE(state(), (QList<int>{0, 0, 100, 0}));
        fromWorker([&] {
            for (int i = 0; i < 87; ++i)
                control->SetProgress(1, 0, 86, i);
        });
        QCOMPARE(state(), (QList<int>{1, 0, 86, 86}));
        fromWorker([&] { control->SetProgress(1, 0, 86, 87); });  // past the end: ignored
        QCOMPARE(state(), (QList<int>{1, 0, 86, 86}));
        fromWorker([&] { control->SetProgress(2, 0, 10, 5); });
        QCOMPARE(state(), (QList<int>{1, 0, 86, 86}));
        fromWorker([&] { control->SetProgress(0, 5, 6, 7); });
        QCOMPARE(state(), (QList<int>{0, 0, 100, 0}));
        fromWorker([&] { control->SetProgress(1, 200, 255, 200); });
        QCOMPARE(state(), (QList<int>{1, 200, 255, 200}));
    }

    void searchReportsMoveGaugeAndListAddresses()
    {
        const platform::HWND handle = platform::ApplicationWindow::instance()->handle();
        control->SetProgress(1, 10, 20, 10);
        std::atomic<bool> done{false};
        TExchange::Start([&] {
            platform_SendMessage(handle, SX_SearchAvailableDevices, 12, 0xFFFF);
            platform_SendMessage(handle, SX_SearchAvailableDevices, 13, 17);
            platform_SendMessage(handle, SX_SearchAvailableDevices, 99, 0x1FFFF);  // clamped; not "none"
            done = true;
        });
        QTRY_VERIFY(done);
        QCOMPARE(control->ProgressGauge()->value(), 20);
        QCOMPARE(window->ui->TS0LB0->count(), 2);
        QCOMPARE(window->ui->TS0LB0->item(0)->text(), QStringLiteral("17"));
        QCOMPARE(window->ui->TS0LB0->item(1)->text(), QStringLiteral("131071"));
    }

    void exchangeStateAndClosingRule()
    {
        std::atomic<bool> done{false};
        TExchange::Start([&] {
            control->SetExchangeState(Exchanging);
            done = true;
        });
        QTRY_VERIFY(done);
        QLabel *label = control->ExchangeLabel();
        QCOMPARE(label->text(), QStringLiteral(" Идет обмен "));
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(255, 0, 0));

        // Closing is refused with a forced warning, even with error messages off.
        window->ui->M1N2->setChecked(false);
        auto answer = AnswerNextMessage(QMessageBox::Ok);
        QVERIFY(!window->close());
        QVERIFY(answer->Answered);
        QCOMPARE(answer->Title, QStringLiteral("Warning"));
        QCOMPARE(answer->Text, QStringLiteral("Невозможно завершить работу!\nИдет обмен с прибором."));
        QVERIFY(window->isVisible());

        done = false;
        TExchange::Start([&] {
            control->SetExchangeState(Idle);
            done = true;
        });
        QTRY_VERIFY(done);
        QCOMPARE(label->text(), QStringLiteral(" Обмена нет "));
        QTRY_COMPARE(TExchange::Running(), 0);  // the worker has left its operation
        QVERIFY(window->close());
        QVERIFY(ReadSettings().contains("ErrorMessages=0\r\n"));
    }

    // An operation that has started but not yet taken the link (it is still asking its
    // question) keeps the window open as an exchange does, and its question is still asked.
    void closingWaitsForAStartedOperation()
    {
        std::atomic<int> result{-1};
        auto seen = std::make_shared<QStringList>();  // the watcher may outlive a failed test
        WatchMessages([seen](QMessageBox *box) {
            *seen << box->text();
            box->button(box->button(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok)->click();
            return seen->size() == 2;
        });
        TExchange::Start([&] {
            result = control->ShowProgramMessage(false, QStringLiteral("Записать все настройки в прибор?"),
                                                 mtConfirmation, mbYesNo);
        });
        QVERIFY(!window->close());
        QVERIFY(window->isVisible());
        QTRY_COMPARE(result.load(), int(mrNo));
        // The question may come up over the refusal: both are shown, in either order.
        seen->sort();
        QCOMPARE(*seen, QStringList({"Записать все настройки в прибор?",
                                    "Невозможно завершить работу!\nИдет обмен с прибором."}));
        QTRY_COMPARE(TExchange::Running(), 0);
        QVERIFY(window->close());
    }

    // A second command clicked while the first still asks its question starts nothing.
    void secondCommandWaitsForTheFirst()
    {
        window->ProjectControl->SetState(psSaved);  // the device commands are offered
        auto seen = std::make_shared<QStringList>();
        std::atomic<bool> release{false};
        WatchMessages([seen, &release](QMessageBox *box) {
            if (!release)
                return false;
            *seen << box->text();
            box->button(QMessageBox::No)->click();
            return true;
        });
        window->ui->TB5->trigger();  // read all settings: asks first
        QTRY_COMPARE(TExchange::Running(), 1);
        window->ui->TB6->trigger();  // write all settings, while the question is up
        QCOMPARE(TExchange::Running(), 1);
        release = true;
        QTRY_COMPARE(TExchange::Running(), 0);
        QCOMPARE(*seen, QStringList({"Считать все настройки из прибора?"}));
    }

    // A window destroyed while a worker still has a question to ask shows it rather than
    // answer it OK unseen (which would let a write to the instrument go on).
    void destroyedWindowStillAsksTheWorkersQuestion()
    {
        std::atomic<int> result{-1};
        auto answer = AnswerNextMessage(QMessageBox::No);
        TExchange::Start([&result, control = control] {
            result = control->ShowProgramMessage(false, QStringLiteral("Записать все настройки в прибор?"),
                                                 mtConfirmation, mbYesNo);
        });
        control = nullptr;
        window.reset();  // waits for the worker while it serves the window thread
        QCOMPARE(TExchange::Running(), 0);
        QVERIFY(answer->Answered);
        QCOMPARE(answer->Text, QStringLiteral("Записать все настройки в прибор?"));
        QCOMPARE(result.load(), int(mrNo));
    }

    void startStopToggleWithWait()
    {
        NewProject(*window);
        window->ui->PC0->setCurrentWidget(window->ui->TS5);
        QPushButton *button = window->ui->TS5Button3;
        auto loop = std::make_shared<TFakeLoop>();
        loop->Button = button;
        window->SetCommand(button, TfMain::OnWorker, [loop] { (*loop)(); });

        QCOMPARE(button->text(), QStringLiteral("Начать измерение"));
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(button->text(), QStringLiteral("Остановить измерение"));
        QTRY_VERIFY(loop->Samples > 0);

        QTest::mouseClick(button, Qt::LeftButton);
        QCOMPARE(button->text(), QStringLiteral("Wait..."));
        QTest::mouseClick(button, Qt::LeftButton);  // a stop is pending: nothing
        QCOMPARE(button->text(), QStringLiteral("Wait..."));
        QTRY_COMPARE(button->text(), QStringLiteral("Начать измерение"));
        QTRY_COMPARE(TExchange::Running(), 0);
        QCOMPARE(loop->Starts.load(), 1);

        // And it starts again.
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(button->text(), QStringLiteral("Остановить измерение"));
        QTest::mouseClick(button, Qt::LeftButton);
        QTRY_COMPARE(button->text(), QStringLiteral("Начать измерение"));
        QCOMPARE(loop->Starts.load(), 2);
    }

    void workerUsesFileDialogAndSaveDir()
    {
        const QString dir = QDir::tempPath() + QLatin1Char('/');
        QString title, shownDir;
        WatchNextFileDialog([&](QFileDialog *dialog) {
            title = dialog->windowTitle();
            shownDir = dialog->directory().absolutePath();
            dialog->selectFile(QStringLiteral("image.bin"));
            QTest::keyClick(dialog, Qt::Key_Return);
        });

        std::atomic<bool> chosen{false};
        QString file;
        TExchange::Start([&] {
            control->SetSaveDir(dir);
            if (window->EEPROMOpenDialog->Execute())
                file = window->EEPROMOpenDialog->FileName();
            chosen = true;
        });
        QTRY_VERIFY(chosen);
        QCOMPARE(title, QStringLiteral("Открытие файла - копии EEPROM прибора"));
        QCOMPARE(shownDir, QDir(dir).absolutePath());
        QCOMPARE(file, QDir(dir).absoluteFilePath(QStringLiteral("image.bin")));
        QCOMPARE(window->ProjectControl->OpenDialog()->InitialDir(), dir);
    }
};

int main(int argc, char **argv)
{
    return fixture::Run<TestMainWindowThreads>(argc, argv);
}

#include "tst_mainwindow_threads.moc"
