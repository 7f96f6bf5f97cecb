#include "platform/dde_names.h"

#include "platform/dde_protocol.h"
#include "platform/runtime_dir.h"

#include <QCryptographicHash>
#include <QFileInfo>

#include <sys/un.h>

namespace platform {

namespace {

qsizetype fileNameStart(const QString &path)
{
    return std::max(path.lastIndexOf(u'/'), path.lastIndexOf(u'\\')) + 1;
}

// The service as a file name: letters, digits, "-", "_" and "." stand for themselves, every
// other byte of its UTF-8 form is written as "%XX". A name too long for a socket address is
// replaced by its hash.
QString fileStem(const QString &service, qsizetype room)
{
    const QByteArray bytes = ddeNameKey(service).toUtf8();
    QString stem;
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || b == '-' || b == '_'
            || b == '.')
            stem += QLatin1Char(c);
        else
            stem += QStringLiteral("%%1").arg(b, 2, 16, QLatin1Char('0')).toUpper();
    }
    if (stem.toUtf8().size() > room)
        stem = QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha1).toHex().left(32));
    return stem;
}

QString servicePath(const QString &service, const QString &suffix)
{
    const QString dir = runtimeDir();
    if (dir.isEmpty())
        return QString();
    constexpr qsizetype kSocketRoom = sizeof(sockaddr_un::sun_path) - 1;
    const qsizetype room = kSocketRoom - QFile::encodeName(dir).size() - 10;  // "/dde-" and ".sock"
    return dir + QStringLiteral("/dde-") + fileStem(service, std::max<qsizetype>(room, 32)) + suffix;
}

} // namespace

QString ddeServiceName(const QString &programPath)
{
    const QString file = programPath.mid(fileNameStart(programPath));
    const qsizetype dot = file.lastIndexOf(u'.');
    return dot <= 0 ? file : file.left(dot);
}

QString ddeProgramToStart(const QString &programPath)
{
    const qsizetype nameStart = fileNameStart(programPath);
    const qsizetype dot = programPath.lastIndexOf(u'.');
    if (dot >= nameStart) {
        const QString bare = programPath.left(dot);
        if (QFileInfo::exists(bare))
            return bare;
    }
    return programPath;
}

bool isValidDdeName(const QString &name)
{
    if (name.isEmpty() || name.size() > dde::kMaxName)
        return false;
    for (const QChar c : name)
        if (c.category() == QChar::Other_Control)
            return false;
    return true;
}

QString ddeNameKey(const QString &name)
{
    return name.toCaseFolded();
}

QString ddeSocketPath(const QString &service)
{
    return servicePath(service, QStringLiteral(".sock"));
}

QString ddeLockPath(const QString &service)
{
    return servicePath(service, QStringLiteral(".lock"));
}

} // namespace platform
