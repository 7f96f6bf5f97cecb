#pragma once
// The pictures of the indicator test (list IL1): the instrument's front as the technician should
// see it after each indicator command, drawn here rather than kept as files.
//
// 120 x 70 pixels: a column of three LEDs on the left, the four-digit main indicator (red) and
// below it the four-digit additional indicator (green). Segment bits of a digit: 0 top, 1 upper
// right, 2 lower right, 3 bottom, 4 lower left, 5 upper left, 6 middle, 7 decimal point. Unlit
// segments and LEDs stay faintly visible, as on the real display.
//
//   0            normal display: a sample reading on both indicators, the LEDs lit
//   1            everything dark
//   2            everything lit
//   3 + n        segment bit n lit on all eight digits (n = 0..7); LED n lit for n = 0..2
//
// The picture TS4I0 shows carries its number in the dynamic property "ImageIndex".
#include <QImage>

class TfMain;

namespace indicator_pictures {

constexpr int Count = 11;
constexpr int Normal = 0;
constexpr int Dark = 1;
constexpr int AllLit = 2;
constexpr int FirstSegment = 3;   // + the segment number
constexpr int Width = 120;
constexpr int Height = 70;

// Picture index of IL1 (0 to Count - 1; another index gives the dark front). Any thread.
QImage Draw(int index);

// Shows picture index on TS4I0. Any thread: a worker's call runs on the window thread in order.
void Show(TfMain &form, int index);

} // namespace indicator_pictures
