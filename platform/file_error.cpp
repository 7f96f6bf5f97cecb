#include "platform/file_error.h"

#include <QString>

#include <cerrno>

namespace platform {

QString fileErrorText(int error, FileAccess access)
{
    const bool write = access == FileAccess::Write;
    switch (error) {
    case ReadOnlyFile:
        return QStringLiteral("Файл доступен только для чтения.");
    case NotRegularFile:
    case EISDIR:
        return QStringLiteral("Это не обычный файл (канал, устройство или папка).");
    case EROFS:
        return QStringLiteral("Файловая система доступна только для чтения.");
    case ENOSPC:
    case EDQUOT:
        return QStringLiteral("На диске нет места.");
    case EACCES:
    case EPERM:
        return write ? QStringLiteral("Нет прав на запись в файл или его папку.")
                     : QStringLiteral("Нет прав на чтение файла.");
    case ENAMETOOLONG:
        return QStringLiteral("Слишком длинное имя файла.");
    case ELOOP:
        return QStringLiteral("Ссылки на файл замыкаются в круг или их цепочка слишком длинна.");
    case ENOENT:
    case ENOTDIR:
        return write ? QStringLiteral("Папка файла не существует.") : QStringLiteral("Файл не найден.");
    default:
        return qt_error_string(error);
    }
}

} // namespace platform
