// The relay reaction matrix: cell modes, hints, pictures and the usage column; and
// TProgramControl::SetRelayImage, the controller's entry to it.
#include "relaymatrix_u.h"

#include "global_u.h"
#include "main_form.h"
#include "prgctrl_u.h"

#include <QFileInfo>
#include <QLabel>
#include <QPixmap>

namespace relay_matrix {

namespace {

const char *const TagProperty = "Tag";

// A picture control: a label that stretches its picture over itself, as the cells do.
QLabel *PictureControl(QObject *object)
{
    auto *label = qobject_cast<QLabel *>(object);
    return label && label->hasScaledContents() ? label : nullptr;
}

} // namespace

int MaxMode(int column)
{
    if (column == 0 || column == BreakColumn)
        return 1;
    if (column >= 1 && column <= 3)
        return 2;
    return -1;
}

QString PictureFileName(int column, int mode)
{
    if (mode < 0 || mode > MaxMode(column))
        return {};
    if (column == 0)
        return QStringLiteral("relay%1.bmp").arg(mode);
    if (column == BreakColumn)
        return QStringLiteral("break_%1.bmp").arg(mode);
    return QStringLiteral("ust%1_%2.bmp").arg(column).arg(mode);
}

QString Hint(int column, int mode)
{
    if (mode < 0 || mode > MaxMode(column))
        return {};
    if (column == 0)
        return mode == 0 ? QStringLiteral("Реле не используется") : QStringLiteral("Реле используется");
    if (column == BreakColumn)
        return mode == 0 ? QStringLiteral("Контроль обрыва датчика не производится")
                         : QStringLiteral("Реле срабатывает при обрыве датчика");
    switch (mode) {
    case 0: return QStringLiteral("Состояние реле не меняется");
    case 1: return QStringLiteral("Реле срабатывает при Uизм < Uуст%1").arg(column);
    default: return QStringLiteral("Реле срабатывает при Uизм > Uуст%1").arg(column);
    }
}

std::array<std::array<QLabel *, ColumnCount>, RelayCount> Cells(const Ui::TfMain &ui)
{
    return {{
        {ui.TS2Image1_0, ui.TS2Image1_1, ui.TS2Image1_2, ui.TS2Image1_3, ui.TS2Image1_4},
        {ui.TS2Image2_0, ui.TS2Image2_1, ui.TS2Image2_2, ui.TS2Image2_3, ui.TS2Image2_4},
        {ui.TS2Image3_0, ui.TS2Image3_1, ui.TS2Image3_2, ui.TS2Image3_3, ui.TS2Image3_4},
    }};
}

int ClickableColumn(const Ui::TfMain &ui, const QObject *sender)
{
    for (const auto &relay : Cells(ui)) {
        for (int column = 1; column < ColumnCount; ++column) {
            // A disabled cell (during an exchange, or masked) takes no click: the filter sees
            // the press before Qt would drop it for the disabled widget.
            if (relay[column] == sender)
                return relay[column]->isEnabled() ? column : -1;
        }
    }
    return -1;
}

int Mode(const QObject *cell)
{
    return cell ? cell->property(TagProperty).toInt() : 0;
}

std::int32_t SetRelayImage(QObject *cell, std::uint8_t column, std::uint8_t mode, const QString &programDir)
{
    QLabel *picture = PictureControl(cell);
    if (!picture || int(mode) > MaxMode(column))
        return -2;
    picture->setProperty(TagProperty, int(mode));
    picture->setToolTip(Hint(column, mode));
    // Read afresh on every change: the files may be replaced while the program runs.
    const QString path = programDir + PictureFolder + PictureFileName(column, mode);
    if (!QFileInfo(path).isFile())
        return -1;
    QPixmap bitmap;
    if (!bitmap.load(path, "BMP"))
        return -1;  // not a bitmap we can read: the cell keeps its old picture, like a missing file
    picture->setPixmap(bitmap);
    return 0;
}

void MouseDown(const Ui::TfMain &ui, TProgramControl &control, QObject *sender)
{
    if (const int column = ClickableColumn(ui, sender); column > 0) {
        const int mode = Mode(sender);
        const int top = MaxMode(column);
        // A mode outside the cell's cycle (set by no press) is left alone.
        if (mode >= 0 && mode <= top)
            control.SetRelayImage(sender, std::uint8_t(column), std::uint8_t(mode == top ? 0 : mode + 1));
    }
    for (const auto &relay : Cells(ui)) {
        bool used = false;
        for (int column = 1; column < ColumnCount; ++column)
            used = used || Mode(relay[column]) != 0;
        control.SetRelayImage(relay[0], 0, used ? 1 : 0);
    }
}

} // namespace relay_matrix

std::int32_t TProgramControl::SetRelayImage(QObject *cell, std::uint8_t column, std::uint8_t mode)
{
    return RunOnWindowThread([&] { return relay_matrix::SetRelayImage(cell, column, mode, ProgramDir()); });
}
