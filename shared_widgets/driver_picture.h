#pragma once
// The data driver's picture for its About box, drawn rather than stored: a dial over a row of
// measuring points joined by a line, in the panel's size.
#include <QPixmap>

QPixmap DriverPicture(const QSize &size);
