#pragma once
// The relay reaction matrix of the setpoint tab: three relays, each shown by a usage picture
// (column 0) and four clickable cells (columns 1 to 3: setpoints 1 to 3, column 4: sensor
// break). A cell keeps its mode in its "Tag" property, explains it in its tool tip and shows
// the picture "Resources/Relay/<name>.bmp" of the program folder for it.
//
//   column 0  relay0.bmp, relay1.bmp            0 not used, 1 used (derived, not clickable)
//   1..3      ust<N>_0.bmp .. ust<N>_2.bmp      0 no change, 1 below setpoint N, 2 above
//   4         break_0.bmp, break_1.bmp          0 no break control, 1 operate on a break
//
// Threads: everything here touches widgets and runs on the window thread only;
// TProgramControl::SetRelayImage hands a worker's call over.
#include <QString>

#include <array>
#include <cstdint>

class QLabel;
class QObject;
class TProgramControl;

namespace Ui {
class TfMain;
}

namespace relay_matrix {

constexpr int RelayCount = 3;
constexpr int ColumnCount = 5;
constexpr int BreakColumn = 4;

// The folder of the pictures inside the program folder.
inline const QString PictureFolder = QStringLiteral("Resources/Relay/");

// Highest mode of a column (1 for columns 0 and 4, 2 for the setpoint columns), -1 beyond.
int MaxMode(int column);
// "relay1.bmp", "ust2_0.bmp", "break_1.bmp"; empty for a column or mode out of range.
QString PictureFileName(int column, int mode);
// The cell's hint for a mode; empty for a column or mode out of range.
QString Hint(int column, int mode);

// The cells of the form: Cells(ui)[relay - 1][column].
std::array<std::array<QLabel *, ColumnCount>, RelayCount> Cells(const Ui::TfMain &ui);
// The column of a clickable cell of the form (1 to 4), or -1 for any other object and for a
// cell that is disabled (itself or through its tab or group).
int ClickableColumn(const Ui::TfMain &ui, const QObject *sender);
// A cell's mode as its Tag holds it.
int Mode(const QObject *cell);

// Sets a cell: 0 done; -1 mode and hint set, but the picture file is missing or is no
// readable bitmap (the old picture stays); -2 refused and nothing changed (not a picture
// control, column above 4, or mode out of the column's range).
std::int32_t SetRelayImage(QObject *cell, std::uint8_t column, std::uint8_t mode, const QString &programDir);

// A press on a cell: a clickable sender moves to its next mode (0-1-2-0 for setpoints, 0-1-0
// for a break); then the usage column of every relay is brought up to date. Any other sender
// changes no mode and only updates the usage column.
void MouseDown(const Ui::TfMain &ui, TProgramControl &control, QObject *sender);

} // namespace relay_matrix
