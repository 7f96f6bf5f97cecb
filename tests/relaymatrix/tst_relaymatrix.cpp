// The relay matrix of the setpoint tab: presses on its cells, their modes, hints and pictures,
// the usage column, and the picture files (drawn by the build into Resources/Relay).
#include "tests/support/setup_window_fixture.h"

#include "prjctrl_u.h"
#include "relaymatrix_u.h"

#include <QTemporaryDir>

using namespace fixture;

namespace {

const QString Unchanged = QStringLiteral("Состояние реле не меняется");

int Mode(const QLabel *cell) { return cell->property("Tag").toInt(); }

QImage Picture(const QLabel *cell) { return cell->pixmap().toImage(); }

QImage File(const QString &name)
{
    return QImage(ProgramDir() + relay_matrix::PictureFolder + name).convertToFormat(QImage::Format_RGB32);
}

} // namespace

class TestRelayMatrix : public QObject {
    Q_OBJECT
    std::unique_ptr<TfMain> window;

    Ui::TfMain &Ui() { return *window->ui; }
    void Press(QLabel *cell, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mousePress(cell, button, {}, QPoint(5, 5));
        QTest::mouseRelease(cell, button, {}, QPoint(5, 5));
    }

private slots:
    void init()
    {
        RemoveSettings();
        window = std::make_unique<TfMain>();
        window->show();
        window->ui->PC0->setCurrentWidget(window->ui->TS2);
        window->ProjectControl->SetState(psSaved);
    }
    void cleanup()
    {
        window.reset();
        RemoveSettings();
    }

    void theThirteenPicturesAreThere()
    {
        const QSize sizes[] = {{43, 92}, {120, 23}, {120, 19}, {120, 19}, {120, 31}};
        for (int column = 0; column < relay_matrix::ColumnCount; ++column) {
            for (int mode = 0; mode <= relay_matrix::MaxMode(column); ++mode) {
                const QString name = relay_matrix::PictureFileName(column, mode);
                QCOMPARE(File(name).size(), sizes[column]);
            }
        }
        QCOMPARE(relay_matrix::PictureFileName(2, 1), QStringLiteral("ust2_1.bmp"));
        QCOMPARE(relay_matrix::PictureFileName(4, 2), QString());
    }

    // During an exchange the cells are disabled and take no click of any button: a change
    // made then would be overwritten by a read or never written.
    void disabledCellsIgnoreClicks()
    {
        QLabel *cell = Ui().TS2Image1_3;
        Press(cell);
        QCOMPARE(Mode(cell), 1);
        window->ProgramControl->SetExchangeState(Exchanging);
        QVERIFY(!cell->isEnabled());
        for (auto button : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton})
            Press(cell, button);
        QCOMPARE(Mode(cell), 1);
        QCOMPARE(Picture(cell), File(QStringLiteral("ust3_1.bmp")));
        QCOMPARE(window->ProjectControl->State(), psModified);  // from the first press only
        window->ProjectControl->SetState(psSaved);
        Press(Ui().TS2Image2_4);
        QCOMPARE(Mode(Ui().TS2Image2_4), 0);
        QCOMPARE(window->ProjectControl->State(), psSaved);
        window->ProgramControl->SetExchangeState(Idle);
        Press(cell);
        QCOMPARE(Mode(cell), 2);
    }

    void setpointCellCycles()
    {
        QLabel *cell = Ui().TS2Image2_2;
        const QStringList hints{QStringLiteral("Реле срабатывает при Uизм < Uуст2"),
                                QStringLiteral("Реле срабатывает при Uизм > Uуст2"), Unchanged};
        const int modes[] = {1, 2, 0};
        for (int i = 0; i < 3; ++i) {
            Press(cell, i == 1 ? Qt::RightButton : Qt::LeftButton);
            QCOMPARE(Mode(cell), modes[i]);
            QCOMPARE(cell->toolTip(), hints[i]);
            QCOMPARE(Picture(cell), File(QStringLiteral("ust2_%1.bmp").arg(modes[i])));
            QCOMPARE(Mode(Ui().TS2Image2_0), i < 2 ? 1 : 0);
            QCOMPARE(Ui().TS2Image2_0->toolTip(),
                     i < 2 ? QStringLiteral("Реле используется") : QStringLiteral("Реле не используется"));
            QCOMPARE(Picture(Ui().TS2Image2_0), File(QStringLiteral("relay%1.bmp").arg(i < 2 ? 1 : 0)));
        }
        QCOMPARE(window->ProjectControl->State(), psModified);
    }

    void breakCellCyclesAndUsageFollowsEveryCell()
    {
        QLabel *cell = Ui().TS2Image3_4;
        Press(cell);
        QCOMPARE(Mode(cell), 1);
        QCOMPARE(cell->toolTip(), QStringLiteral("Реле срабатывает при обрыве датчика"));
        QCOMPARE(Mode(Ui().TS2Image3_0), 1);  // the break cell alone makes the relay used
        QCOMPARE(Ui().TS2Image3_0->toolTip(), QStringLiteral("Реле используется"));
        Press(Ui().TS2Image3_1);
        Press(cell);
        QCOMPARE(Mode(cell), 0);
        QCOMPARE(cell->toolTip(), QStringLiteral("Контроль обрыва датчика не производится"));
        QCOMPARE(Mode(Ui().TS2Image3_0), 1);  // setpoint 1 still reacts
        // The usage pictures are not clickable; a press there changes no mode.
        Press(Ui().TS2Image1_0);
        QCOMPARE(Mode(Ui().TS2Image1_0), 0);
        QCOMPARE(Ui().TS2Image1_0->toolTip(), QStringLiteral("Реле не используется"));
    }

    void setRelayImageRefusesAndToleratesMissingFiles()
    {
        TProgramControl &control = *window->ProgramControl;
        QLabel *cell = Ui().TS2Image1_3;
        QCOMPARE(control.SetRelayImage(cell, 3, 3), -2);
        QCOMPARE(control.SetRelayImage(cell, 5, 0), -2);
        QCOMPARE(control.SetRelayImage(Ui().TS2Label1, 3, 1), -2);  // a caption, not a picture
        QCOMPARE(control.SetRelayImage(Ui().TS2Edit0, 3, 1), -2);
        QCOMPARE(Mode(cell), 0);
        QCOMPARE(cell->toolTip(), Unchanged);

        // A folder with one file missing and one that is no bitmap: mode and hint change, the
        // picture stays.
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkpath(relay_matrix::PictureFolder));
        const QString folder = dir.path() + QLatin1Char('/') + relay_matrix::PictureFolder;
        QVERIFY(QFile::copy(ProgramDir() + relay_matrix::PictureFolder + QStringLiteral("ust3_2.bmp"),
                            folder + QStringLiteral("ust3_2.bmp")));
        QFile junk(folder + QStringLiteral("ust3_0.bmp"));
        QVERIFY(junk.open(QIODevice::WriteOnly));
        junk.write("not a bitmap");
        junk.close();
        const QImage before = Picture(cell);
        const QString programDir = dir.path() + QLatin1Char('/');
        QCOMPARE(relay_matrix::SetRelayImage(cell, 3, 1, programDir), -1);
        QCOMPARE(Mode(cell), 1);
        QCOMPARE(cell->toolTip(), QStringLiteral("Реле срабатывает при Uизм < Uуст3"));
        QCOMPARE(Picture(cell), before);
        QCOMPARE(relay_matrix::SetRelayImage(cell, 3, 2, programDir), 0);
        QCOMPARE(Picture(cell), File(QStringLiteral("ust3_2.bmp")));
        QCOMPARE(relay_matrix::SetRelayImage(cell, 3, 0, programDir), -1);
        QCOMPARE(Mode(cell), 0);
        QCOMPARE(Picture(cell), File(QStringLiteral("ust3_2.bmp")));
    }

    void workerSetsCellsOnTheWindowThread()
    {
        std::atomic<int> result{1};
        TExchange::Start([&] { result = window->ProgramControl->SetRelayImage(Ui().TS2Image1_1, 1, 2); });
        QTRY_COMPARE(result.load(), 0);
        QCOMPARE(Mode(Ui().TS2Image1_1), 2);
        QTRY_COMPARE(TExchange::Running(), 0);
    }
};

int main(int argc, char **argv)
{
    return Run<TestRelayMatrix>(argc, argv);
}

#include "tst_relaymatrix.moc"
