#pragma once
// The program's own pictures, compiled in as PNG (resources.qrc).
#include <QPixmap>
#include <QString>

// The PNG picture at path (":/MM0IL0/3.png"), read as PNG at once: Qt would otherwise ask every
// image plugin whether it can read it, and load them all, at the window's start. A null pixmap
// when there is no such picture.
QPixmap ResourcePicture(const QString &path);
