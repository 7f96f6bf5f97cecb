#include "resource_picture.h"

#include <QImageReader>

QPixmap ResourcePicture(const QString &path)
{
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}
