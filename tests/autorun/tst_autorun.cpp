// The autostart entry as a desktop reads it at login: the file is parsed here by the desktop
// entry rules (string escapes, then the quoting of Exec and its "%%"), independently of how
// platform/autorun.cpp writes it, and a symbolic link in the entry's place goes whole.
#include "platform/autorun.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The keys of the "[Desktop Entry]" group, their values unescaped as type "string".
QHash<QString, QString> entryKeys(const QByteArray &bytes)
{
    QHash<QString, QString> keys;
    bool inGroup = false;
    for (const QString &line : QString::fromUtf8(bytes).split(u'\n')) {
        if (line.startsWith(u'[')) {
            inGroup = line == QLatin1String("[Desktop Entry]");
            continue;
        }
        const qsizetype eq = line.indexOf(u'=');
        if (!inGroup || eq <= 0)
            continue;
        QString value;
        const QString raw = line.mid(eq + 1);
        for (qsizetype i = 0; i < raw.size(); ++i) {
            if (raw[i] != u'\\' || i + 1 == raw.size()) {
                value += raw[i];
                continue;
            }
            const QChar next = raw[++i];
            value += next == u's' ? QChar(u' ') : next == u'n' ? QChar(u'\n') : next == u't' ? QChar(u'\t')
                   : next == u'r' ? QChar(u'\r') : next;
        }
        keys.insert(line.left(eq).trimmed(), value);
    }
    return keys;
}

// The words of an Exec value: double-quoted words with "\"", "\`", "\$" and "\\" escaped
// inside, "%%" for a "%"; a lone "%" starts a field code, which is kept as "<field %x>".
QStringList execWords(const QString &exec)
{
    QStringList words;
    QString word;
    bool quoted = false, inWord = false;
    for (qsizetype i = 0; i < exec.size(); ++i) {
        const QChar c = exec[i];
        if (quoted && c == u'\\' && i + 1 < exec.size()) {
            word += exec[++i];
        } else if (c == u'"') {
            quoted = !quoted;
            inWord = true;
        } else if (c == u'%' && i + 1 < exec.size()) {
            word += exec[i + 1] == u'%' ? QStringLiteral("%") : QStringLiteral("<field %%1>").arg(exec[i + 1]);
            ++i;
            inWord = true;
        } else if (c == u' ' && !quoted) {
            if (inWord)
                words << word;
            word.clear();
            inWord = false;
        } else {
            word += c;
            inWord = true;
        }
    }
    if (inWord)
        words << word;
    return words;
}

} // namespace

class TestAutorun : public QObject {
    Q_OBJECT

    std::unique_ptr<QTemporaryDir> dir;

private slots:
    void init()
    {
        dir = std::make_unique<QTemporaryDir>();
        qputenv("HOME", QFile::encodeName(dir->path() + QStringLiteral("/home")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir->path() + QStringLiteral("/config")));
    }

    // Written enabled, with the program as one word whatever its path holds: blanks, quotes,
    // "$", "`" and backslashes.
    void entryStartsTheProgramAndIsEnabled()
    {
        const QString program = QStringLiteral("/opt/my 100 dir/ta\"g$`\\pump");
        const QString folder = QStringLiteral("/srv/plant 7%/работа");
        QVERIFY(platform::setAutorunEntry(QStringLiteral("tagpump"), QStringLiteral("Tagpump"), program, folder));
        const QString path = dir->path() + QStringLiteral("/config/autostart/tagpump.desktop");
        QCOMPARE(platform::autorunEntryPath(QStringLiteral("tagpump")), path);

        const QHash<QString, QString> keys = entryKeys(fileBytes(path));
        QCOMPARE(keys.value(QStringLiteral("Type")), QStringLiteral("Application"));
        QCOMPARE(keys.value(QStringLiteral("Name")), QStringLiteral("Tagpump"));
        QCOMPARE(execWords(keys.value(QStringLiteral("Exec"))), QStringList(program));
        QCOMPARE(keys.value(QStringLiteral("Path")), folder);
        QCOMPARE(keys.value(QStringLiteral("X-GNOME-Autostart-enabled"), QStringLiteral("true")), QStringLiteral("true"));
        QCOMPARE(keys.value(QStringLiteral("Hidden"), QStringLiteral("false")), QStringLiteral("false"));

        QVERIFY(platform::removeAutorunEntry(QStringLiteral("tagpump")));
        QVERIFY(!QFile::exists(path));
        QVERIFY(platform::removeAutorunEntry(QStringLiteral("tagpump")));  // already gone
    }

    // A program whose path holds "%" (where "%u" would be a field code) and the characters that
    // quoting must protect: GLib, which desktops start their entries through, loads the entry and
    // starts the program in its working folder.
    void programInAPercentFolderStartsThroughGLib()
    {
        const QString gio = QStandardPaths::findExecutable(QStringLiteral("gio"));
        if (gio.isEmpty())
            QSKIP("gio (GLib) is not installed");
        const QString bin = dir->path() + QStringLiteral("/my 100%u %% dir");
        const QString program = bin + QStringLiteral("/ta\"g$`\\pump%");
        const QString folder = dir->path() + QStringLiteral("/plant 7%");
        const QString ran = dir->path() + QStringLiteral("/ran");
        QVERIFY(QDir().mkpath(bin) && QDir().mkpath(folder));
        QFile script(program);
        QVERIFY(script.open(QIODevice::WriteOnly));
        script.write("#!/bin/sh\npwd > '" + QFile::encodeName(ran) + "'\n");
        script.close();
        QVERIFY(script.setPermissions(script.permissions() | QFileDevice::ExeOwner));

        QVERIFY(platform::setAutorunEntry(QStringLiteral("tagpump"), QStringLiteral("Tagpump"), program, folder));
        QVERIFY(!entryKeys(fileBytes(platform::autorunEntryPath(QStringLiteral("tagpump")))).value(QStringLiteral("Exec")).contains(u'%'));
        QCOMPARE(QProcess::execute(gio, {QStringLiteral("launch"), platform::autorunEntryPath(QStringLiteral("tagpump"))}), 0);
        QTRY_COMPARE(fileBytes(ran), QFile::encodeName(folder) + "\n");
    }

    // An entry that is a symbolic link (as dot-file managers make them) goes as a whole: the link
    // itself, also when it points nowhere; the file it pointed to is not ours and stays.
    void symbolicLinkEntryIsRemovedWhole()
    {
        const QString autostart = dir->path() + QStringLiteral("/config/autostart");
        QVERIFY(QDir().mkpath(autostart));
        const QString path = platform::autorunEntryPath(QStringLiteral("tagpump"));
        const QString target = dir->path() + QStringLiteral("/dotfiles.desktop");
        const QByteArray targetBytes = "[Desktop Entry]\nType=Application\nExec=/bin/true\n";
        QFile file(target);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(targetBytes) == targetBytes.size());
        file.close();

        QVERIFY(QFile::link(target, path));
        QVERIFY(platform::removeAutorunEntry(QStringLiteral("tagpump")));
        QVERIFY(!QFileInfo(path).isSymLink() && !QFileInfo::exists(path));
        QCOMPARE(fileBytes(target), targetBytes);

        QVERIFY(QFile::link(dir->path() + QStringLiteral("/nowhere.desktop"), path));
        QVERIFY(platform::removeAutorunEntry(QStringLiteral("tagpump")));
        QVERIFY(!QFileInfo(path).isSymLink());
    }
};

QTEST_GUILESS_MAIN(TestAutorun)
#include "tst_autorun.moc"
