#include "platform/autorun.h"

#include "platform/atomic_file.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace platform {

namespace {

// A value of type "string" in a desktop entry: a backslash and the line-breaking characters are
// written as escapes, so a path can never end the line or start a key of its own.
QString entryString(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\': out += QLatin1String("\\\\"); break;
        case '\n': out += QLatin1String("\\n"); break;
        case '\r': out += QLatin1String("\\r"); break;
        case '\t': out += QLatin1String("\\t"); break;
        default: out += c; break;
        }
    }
    // A leading blank would be taken for the blank after "=".
    if (out.startsWith(QLatin1Char(' ')))
        out.replace(0, 1, QLatin1String("\\s"));
    return out;
}

// One word of an Exec key: in double quotes, with the characters that quoting does not protect
// escaped by a backslash. The word holds no "%": a "%" would start a field code.
QString quotedExecWord(const QString &word)
{
    QString quoted;
    quoted.reserve(word.size() + 2);
    quoted += QLatin1Char('"');
    for (const QChar c : word) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            quoted += QLatin1Char('\\');
        quoted += c;
    }
    quoted += QLatin1Char('"');
    return quoted;
}

// The Exec key's value that starts the program. A program path with a "%" would need "%%", which
// the rules allow but GLib refuses to load (it looks the first word up as it stands): such a path
// goes to the shell as printf's format instead, each "%" written "\045" and each backslash "\\",
// so the entry holds no "%" and its first word is /bin/sh. entryString then escapes the
// backslashes once more for the file.
QString execValue(const QString &program)
{
    if (!program.contains(QLatin1Char('%')))
        return entryString(quotedExecWord(program));
    QString format = program;
    format.replace(QLatin1Char('\\'), QLatin1String("\\\\")).replace(QLatin1Char('%'), QLatin1String("\\045"));
    return entryString(QStringLiteral("/bin/sh -c ") + quotedExecWord(QStringLiteral("exec \"$(printf \"$0\")\""))
                       + QLatin1Char(' ') + quotedExecWord(format));
}

} // namespace

QString autostartDir()
{
    QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (config.isEmpty() || QDir::isRelativePath(config))
        config = QDir::homePath() + QStringLiteral("/.config");
    return config + QStringLiteral("/autostart");
}

QString autorunEntryPath(const QString &id)
{
    return autostartDir() + QLatin1Char('/') + id + QStringLiteral(".desktop");
}

bool setAutorunEntry(const QString &id, const QString &name, const QString &program, const QString &workingDir)
{
    if (!QDir().mkpath(autostartDir()))
        return false;
    const QString entry = QStringLiteral("[Desktop Entry]\n"
                                         "Type=Application\n"
                                         "Name=%1\n"
                                         "Exec=%2\n"
                                         "Path=%3\n"
                                         "Terminal=false\n"
                                         "X-GNOME-Autostart-enabled=true\n")
                              .arg(entryString(name), execValue(program), entryString(workingDir));
    return replaceFile(autorunEntryPath(id), entry.toUtf8()).isEmpty();
}

bool removeAutorunEntry(const QString &id)
{
    const QString path = autorunEntryPath(id);
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        return true;
    return QFile::remove(path);
}

} // namespace platform
