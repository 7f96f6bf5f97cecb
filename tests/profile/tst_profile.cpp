// Profile files as the programs' settings, project and calibration files use them: what a
// caller reads back, and the bytes the file holds afterwards.
#include "platform/codepage.h"
#include "platform/profile.h"
#include "platform/profile_lock.h"
#include "tests/support/lock_holder_process.h"
#include "tests/support/rename_counter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <vector>
#include <unistd.h>

using platform::ProfileBatch;
using platform::ProfileFile;
using platform::ProfileWriteError;
using platform::toCp1251;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

void putFile(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// Runs a write that must be refused and returns the error's text.
template <typename Fn>
QString refusal(Fn write)
{
    try {
        write();
    } catch (const ProfileWriteError &e) {
        return e.text();
    }
    return QStringLiteral("<no error>");
}

} // namespace

class TestProfile : public QObject {
    Q_OBJECT

private slots:
    void init()
    {
        m_dir = std::make_unique<QTemporaryDir>();
        QVERIFY(m_dir->isValid());
        m_path = m_dir->filePath(QStringLiteral("%1.ini").arg(QTest::currentTestFunction()));
    }

    void defaultsAndRoundTrip()
    {
        ProfileFile ini(m_path);
        QCOMPARE(ini.readString("Main", "Name", "none"), QString("none"));
        QCOMPARE(ini.readInteger("Main", "Left", 200), 200);
        QCOMPARE(ini.readBool("Main", "Hints", true), true);
        QCOMPARE(ini.readFloat("Main", "ErrorValue", 1000.0), 1000.0);
        QVERIFY(ini.readSection("Main").isEmpty());
        QVERIFY(!QFile::exists(m_path));

        ini.writeInteger("Main", "Left", -35);
        ini.writeString("Main", "Name", "Line 2");
        ini.writeBool("Main", "Hints", false);
        ini.writeBool("Main", "Logging", true);
        ini.writeFloat("Common Adjusts", "ErrorValue", 12.5);
        ini.writeFloat("Common Adjusts", "Big", 1000.0);
        ini.writeString("Common Adjusts", "Empty", "");
        QCOMPARE(fileBytes(m_path), QByteArray("[Main]\r\nLeft=-35\r\nName=Line 2\r\nHints=0\r\nLogging=1\r\n"
                                               "[Common Adjusts]\r\nErrorValue=12.5\r\nBig=1000\r\nEmpty=\r\n"));

        QCOMPARE(ini.readInteger("Main", "Left", 200), -35);
        QCOMPARE(ini.readString("Main", "Name", "none"), QString("Line 2"));
        QCOMPARE(ini.readBool("Main", "Hints", true), false);
        QCOMPARE(ini.readBool("Main", "Logging", false), true);
        QCOMPARE(ini.readFloat("Common Adjusts", "ErrorValue", 0), 12.5);
        QCOMPARE(ini.readString("Common Adjusts", "Empty", "default"), QString());
        QVERIFY(ini.valueExists("Common Adjusts", "Empty"));
        QVERIFY(!ini.valueExists("Common Adjusts", "Missing"));

        // Writing a value again replaces it in place.
        ini.writeInteger("Main", "Left", 0x7fffffff);
        QCOMPARE(ini.readInteger("Main", "Left", 0), 0x7fffffff);
        QVERIFY(fileBytes(m_path).startsWith("[Main]\r\nLeft=2147483647\r\nName=Line 2\r\n"));
    }

    void integers_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("value");
        const int def = -777;
        QTest::newRow("decimal") << QByteArray("12") << 12;
        QTest::newRow("negative") << QByteArray("-5") << -5;
        QTest::newRow("plus") << QByteArray("+7") << 7;
        QTest::newRow("blanks") << QByteArray("  42\t") << 42;
        QTest::newRow("0x") << QByteArray("0x1F") << 31;
        QTest::newRow("0X") << QByteArray("0X1f") << 31;
        QTest::newRow("dollar") << QByteArray("$1F") << 31;
        QTest::newRow("negative hex") << QByteArray("-$10") << -16;
        QTest::newRow("32-bit hex") << QByteArray("$FFFFFFFF") << -1;
        QTest::newRow("hex too long") << QByteArray("0x100000000") << def;
        QTest::newRow("max") << QByteArray("2147483647") << 2147483647;
        QTest::newRow("min") << QByteArray("-2147483648") << int(-2147483648LL);
        QTest::newRow("overflow") << QByteArray("2147483648") << def;
        QTest::newRow("trailing garbage") << QByteArray("12abc") << def;
        QTest::newRow("inner blank") << QByteArray("1 2") << def;
        QTest::newRow("fraction") << QByteArray("1.5") << def;
        QTest::newRow("word") << QByteArray("abc") << def;
        QTest::newRow("empty") << QByteArray("") << def;
        QTest::newRow("prefix alone") << QByteArray("0x") << def;
        QTest::newRow("dollar alone") << QByteArray("$") << def;
        QTest::newRow("sign alone") << QByteArray("-") << def;
        QTest::newRow("quoted") << QByteArray("\"15\"") << 15;
    }

    void integers()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, value);
        putFile(m_path, "[S]\r\nK=" + text + "\r\n");
        ProfileFile ini(m_path);
        QCOMPARE(ini.readInteger("S", "K", -777), value);
        // Booleans read as integers: non-zero is true, no number is the default.
        QCOMPARE(ini.readBool("S", "K", false), value != -777 && value != 0);
        QCOMPARE(ini.readBool("S", "K", true), value != 0);
    }

    void floats_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<double>("value");
        QTest::newRow("integer") << QByteArray("1000") << 1000.0;
        QTest::newRow("fraction") << QByteArray("12.5") << 12.5;
        QTest::newRow("negative exponent") << QByteArray("-1e3") << -1000.0;
        QTest::newRow("plus") << QByteArray("+0.25") << 0.25;
        QTest::newRow("comma") << QByteArray("12,5") << -1.0;
        QTest::newRow("word") << QByteArray("abc") << -1.0;
        QTest::newRow("trailing garbage") << QByteArray("3.5x") << -1.0;
        QTest::newRow("infinity") << QByteArray("inf") << -1.0;
        QTest::newRow("not a number") << QByteArray("nan") << -1.0;
        QTest::newRow("empty") << QByteArray("") << -1.0;
    }

    void floats()
    {
        QFETCH(QByteArray, text);
        QFETCH(double, value);
        putFile(m_path, "[S]\nK=" + text + "\n");
        QCOMPARE(ProfileFile(m_path).readFloat("S", "K", -1.0), value);
    }

    void floatsWrittenShortest()
    {
        ProfileFile ini(m_path);
        ini.writeFloat("S", "A", 0.1 + 0.2);
        ini.writeFloat("S", "B", -0.001);
        ini.writeFloat("S", "C", 123456789012.0);
        QCOMPARE(fileBytes(m_path), QByteArray("[S]\r\nA=0.3\r\nB=-0.001\r\nC=123456789012\r\n"));
        QCOMPARE(ini.readFloat("S", "C", 0), 123456789012.0);
    }

    void textsTrimmedQuotedAndCut()
    {
        const QByteArray longText(3000, 'x');
        putFile(m_path, "[S]\r\n  Padded  =  a b  \r\nQuoted=\"  in quotes  \"\r\nSingle='x'\r\n"
                        "Unmatched=\"abc'\r\nOne=\"\r\nLong="
                            + longText + "\r\n");
        ProfileFile ini(m_path);
        QCOMPARE(ini.readString("S", "Padded", "-"), QString("a b"));
        QCOMPARE(ini.readString("S", "Quoted", "-"), QString("  in quotes  "));
        QCOMPARE(ini.readString("S", "Single", "-"), QString("x"));
        QCOMPARE(ini.readString("S", "Unmatched", "-"), QString("\"abc'"));
        QCOMPARE(ini.readString("S", "One", "-"), QString("\""));
        QCOMPARE(ini.readString("S", "Long", "-"), QString(2047, 'x'));

        // A written long text stays whole in the file; reading cuts it.
        ini.writeString("S", "Written", QString(2100, 'y'));
        QVERIFY(fileBytes(m_path).contains("Written=" + QByteArray(2100, 'y') + "\r\n"));
        QCOMPARE(ini.readString("S", "Written", "-").size(), 2047);
    }

    void letterCase()
    {
        putFile(m_path, toCp1251("[Program Settings]\r\nSaveDir=/home\r\n[Датчики]\r\nЁлка=1\r\n"));
        ProfileFile ini(m_path);
        QCOMPARE(ini.readString("PROGRAM settings", "savedir", "-"), QString("/home"));
        QCOMPARE(ini.readInteger("дАТЧИКИ", "ёЛКА", 0), 1);

        // A write under another spelling changes the existing line and keeps its spelling.
        ini.writeString("program SETTINGS", "SAVEDIR", "/tmp");
        ini.writeInteger("ДАТЧИКИ", "ЁЛКА", 2);
        QCOMPARE(fileBytes(m_path), toCp1251("[Program Settings]\r\nSaveDir=/tmp\r\n[Датчики]\r\nЁлка=2\r\n"));
        QCOMPARE(ini.readSections(), QStringList({"Program Settings", "Датчики"}));
    }

    // Blanks around a name, in the file or in the caller's text, are not part of it; a section
    // of comments and blank lines holds no key and so does not exist.
    void blanksAroundNamesAndCommentOnlySections()
    {
        putFile(m_path, "[ Main ]\r\n\tLeft \t= 7\r\n[Notes]\r\n; only a note\r\n\r\n  ; indented=1\r\n"
                        "[Tail]\r\nT=1\r\n");
        ProfileFile ini(m_path);
        QCOMPARE(ini.readInteger("Main", "Left", 0), 7);
        QCOMPARE(ini.readInteger(" main\t", "  LEFT ", 0), 7);
        QVERIFY(ini.valueExists("Main", "Left"));
        QCOMPARE(ini.readSection(" Main"), QStringList("Left"));
        QCOMPARE(ini.readSections(), QStringList({"Main", "Notes", "Tail"}));
        ini.writeInteger("Main ", " Left", 8);
        QCOMPARE(ini.readInteger("Main", "Left", 0), 8);

        QVERIFY(ini.sectionExists(" Main "));
        QVERIFY(!ini.sectionExists("Notes"));
        QVERIFY(ini.readSection("Notes").isEmpty());
        QCOMPARE(fileBytes(m_path), QByteArray("[ Main ]\r\n\tLeft \t=8\r\n[Notes]\r\n; only a note\r\n\r\n"
                                               "  ; indented=1\r\n[Tail]\r\nT=1\r\n"));
    }

    // The edges of the code page both ways: what it holds goes to its own byte and back, what it
    // does not hold becomes one "?".
    void codePageEdges_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("backToText");
        QTest::newRow("last ASCII") << QString(QChar(0x7F)) << QByteArray("\x7F") << true;
        QTest::newRow("U+0080") << QString(QChar(0x80)) << QByteArray("?") << false;
        QTest::newRow("outside the basic plane") << QString::fromUcs4(U"a\U0001F600b") << QByteArray("a?b") << false;
        QTest::newRow("first Cyrillic") << QStringLiteral("А") << QByteArray("\xC0") << true;
        QTest::newRow("last Cyrillic") << QStringLiteral("я") << QByteArray("\xFF") << true;
        QTest::newRow("Ё and ё") << QStringLiteral("Ёё") << QByteArray("\xA8\xB8") << true;
        QTest::newRow("Ђ at 0x80") << QStringLiteral("Ђ") << QByteArray("\x80") << true;
        QTest::newRow("numero sign") << QStringLiteral("№5") << QByteArray("\xB9" "5") << true;
        QTest::newRow("euro sign") << QStringLiteral("€") << QByteArray("\x88") << true;
        QTest::newRow("Ukrainian Ґ") << QStringLiteral("Ґ") << QByteArray("\xA5") << true;
        QTest::newRow("Chinese") << QStringLiteral("中") << QByteArray("?") << false;
    }
    void codePageEdges()
    {
        QFETCH(QString, text);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, backToText);
        QCOMPARE(toCp1251(text), bytes);
        if (backToText)
            QCOMPARE(platform::fromCp1251(bytes), text);
    }

    // The whole upper half both ways, against Qt's own Windows-1251 converter.
    void codePageAsQtConvertsIt()
    {
        QByteArray bytes;
        for (int b = 0x80; b <= 0xFF; ++b)
            bytes += char(b);
        QStringDecoder qt("windows-1251", QStringConverter::Flag::Stateless);
        if (!qt.isValid())
            QSKIP("this Qt has no Windows-1251 converter");
        const QString text = qt.decode(bytes);
        QCOMPARE(platform::fromCp1251(bytes), text);
        QCOMPARE(toCp1251(text), bytes);
    }

    void cyrillicStoredAsWindows1251()
    {
        ProfileFile ini(m_path);
        ini.writeString("Проект", "Имя", "Ошибка!");
        QCOMPARE(fileBytes(m_path), QByteArray("[\xCF\xF0\xEE\xE5\xEA\xF2]\r\n\xC8\xEC\xFF=\xCE\xF8\xE8\xE1\xEA\xE0!\r\n"));
        QCOMPARE(ini.readString("ПРОЕКТ", "имя", "-"), QString("Ошибка!"));
        QCOMPARE(ini.readSection("проект"), QStringList("Имя"));
    }

    void duplicates()
    {
        putFile(m_path, "[Main]\r\nA=1\r\nA=2\r\nB=3\r\n[main]\r\nA=4\r\nC=5\r\n");
        ProfileFile ini(m_path);
        QCOMPARE(ini.readInteger("Main", "A", 0), 1);
        QCOMPARE(ini.readInteger("Main", "C", 0), 0); // only the first section counts
        QCOMPARE(ini.readSection("MAIN"), QStringList({"A", "B"}));
        QCOMPARE(ini.readSections(), QStringList("Main"));

        ini.writeInteger("Main", "A", 9);
        ini.writeInteger("Main", "C", 6);
        QCOMPARE(fileBytes(m_path), QByteArray("[Main]\r\nA=9\r\nA=2\r\nB=3\r\nC=6\r\n[main]\r\nA=4\r\nC=5\r\n"));
        QCOMPARE(ini.readInteger("Main", "C", 0), 6);

        ini.deleteKey("main", "a");
        QCOMPARE(fileBytes(m_path), QByteArray("[Main]\r\nB=3\r\nC=6\r\n[main]\r\nA=4\r\nC=5\r\n"));
        QVERIFY(!ini.valueExists("Main", "A"));
    }

    void otherLinesKeptByteForByte()
    {
        const QByteArray head = QByteArray("Stray=before any section\r\n"
                                           "; comment = not a key\r\n"
                                           "\x01\xFF\xFE garbage\r\n"
                                           "[Main]  trailing text\n"
                                           "Left = 10\r\n")
                              + QByteArray("Nul=a\0b\r\n", 9)
                              + "line without equals\r\n"
                                "[Broken header\r\n"
                                "Top=20\r\n"
                                "\r\n";
        const QByteArray tail = "[Other]\r\n  X  =  y  \r\n\r\n";
        putFile(m_path, head + tail);
        ProfileFile ini(m_path);
        QCOMPARE(ini.readSection("Main"), QStringList({"Left", "Nul", "Top"}));
        QCOMPARE(ini.readString("Main", "Nul", "-"), QString(QByteArray("a\0b", 3)));
        QCOMPARE(ini.readString("Main", "Stray", "-"), QString("-"));

        // Unchanged value: the file is not touched, spacing included.
        ini.writeInteger("Main", "Left", 10);
        QCOMPARE(fileBytes(m_path), head + tail);

        ini.writeInteger("Main", "Top", 21);
        ini.writeString("Main", "New", "n");
        ini.writeString("Other", "X", "z");
        ini.writeString("Added", "K", "v");
        QByteArray expected = head + tail;
        expected.replace("Top=20\r\n", "Top=21\r\nNew=n\r\n");
        expected.replace("  X  =  y  \r\n", "  X  =z\r\n");
        expected += "[Added]\r\nK=v\r\n";
        QCOMPARE(fileBytes(m_path), expected);
    }

    void lineFeedsAndMissingFinalLineEnd()
    {
        putFile(m_path, "[A]\nx=1\ny=2\n[B]\nz=3");
        ProfileFile ini(m_path);
        QCOMPARE(ini.readInteger("A", "y", 0), 2);
        QCOMPARE(ini.readInteger("B", "z", 0), 3);

        ini.writeString("B", "w", "4");
        QCOMPARE(fileBytes(m_path), QByteArray("[A]\nx=1\ny=2\n[B]\nz=3\r\nw=4\r\n"));

        putFile(m_path, "[A]\nx=1");
        ini.writeString("C", "k", "v");
        QCOMPARE(fileBytes(m_path), QByteArray("[A]\nx=1\r\n[C]\r\nk=v\r\n"));

        putFile(m_path, "[A]");
        ini.writeString("A", "k", "v");
        QCOMPARE(fileBytes(m_path), QByteArray("[A]\r\nk=v\r\n"));
    }

    // A file that an editor saved as UTF-8 with a byte-order mark: the mark is no part of the
    // first section's header, and a write changes the value in place, mark and all, instead of
    // adding a second section of that name at the end.
    void byteOrderMarkAtTheStart_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QString>("section");
        QTest::addColumn<QString>("key");
        QTest::newRow("tagpump.ini") << QByteArray("\xEF\xBB\xBF[Common Adjusts]\r\nSensorTimeInterval=250\r\n"
                                                   "[COM-port]\r\nBaudR=9600\r\n")
                                     << "Common Adjusts" << "SensorTimeInterval";
        QTest::newRow("vks74xx.ini") << QByteArray("\xEF\xBB\xBF[Program Settings]\nProjectFileName=/home/u/job.prj\n")
                                     << "Program Settings" << "ProjectFileName";
        QTest::newRow("blank after the mark") << QByteArray("\xEF\xBB\xBF  [S]\r\nK=old\r\n") << "S" << "K";
    }
    void byteOrderMarkAtTheStart()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, section);
        QFETCH(QString, key);
        putFile(m_path, text);
        const QByteArray line = key.toLatin1() + '=';
        const qsizetype at = text.indexOf(line) + line.size();
        const QString value = QString::fromLatin1(text.mid(at, text.indexOf('\n', at) - at).trimmed());
        ProfileFile ini(m_path);
        QCOMPARE(ini.readSections().value(0), section);
        QCOMPARE(ini.readString(section, key, "-"), value);
        QCOMPARE(platform::ProfileSnapshot(m_path).readString(section, key, "-"), value);
        ini.writeString(section, key, "new");
        QCOMPARE(fileBytes(m_path), QByteArray(text).replace(line + value.toLatin1(), line + "new"));
    }

    void valuesCannotAddLines()
    {
        ProfileFile ini(m_path);
        ini.writeString("S", "K", "one\r\n[Evil]\nX=1");
        QCOMPARE(ini.readSections(), QStringList("S"));
        QCOMPARE(ini.readString("S", "K", "-"), QString("one  [Evil] X=1"));
    }

    void sectionListingAndErase()
    {
        const QByteArray before = "[Main]\r\nLeft=1\r\n"
                                  "[Sensors]\r\nSensor1=|1|1|1|500|\r\nSensor5=x\r\n; note\r\nFoo=y\r\nsensor1=dup\r\n\r\n"
                                  "[Empty]\r\n"
                                  "[Tail]\r\nT=1\r\n"
                                  "[SENSORS]\r\nSensor9=z\r\n";
        putFile(m_path, before);
        ProfileFile ini(m_path);
        QCOMPARE(ini.readSection("Sensors"), QStringList({"Sensor1", "Sensor5", "Foo"}));
        QCOMPARE(ini.readSections(), QStringList({"Main", "Sensors", "Empty", "Tail"}));
        QVERIFY(ini.sectionExists("sensors"));
        QVERIFY(!ini.sectionExists("Empty")); // a header alone holds no keys
        QVERIFY(!ini.sectionExists("Missing"));

        ini.eraseSection("Sensors");
        QCOMPARE(fileBytes(m_path), QByteArray("[Main]\r\nLeft=1\r\n[Empty]\r\n[Tail]\r\nT=1\r\n"));
        QVERIFY(ini.readSection("Sensors").isEmpty());

        ini.writeString("Sensors", "Sensor1", "a");
        ini.writeString("Sensors", "Sensor2", "b");
        QCOMPARE(ini.readSection("Sensors"), QStringList({"Sensor1", "Sensor2"}));

        // Erasing what is not there changes nothing and creates no file.
        const QString missing = m_dir->filePath("never.ini");
        ProfileFile(missing).eraseSection("Sensors");
        ProfileFile(missing).deleteKey("Sensors", "Sensor1");
        QVERIFY(!QFile::exists(missing));
    }

    void refusedWrites()
    {
        ProfileFile ini(m_path);
        ini.writeInteger("Main", "Left", 1);
        const QByteArray before = fileBytes(m_path);

        // A file without write permission is read-only, for the superuser too.
        QVERIFY(QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::ReadGroup));
        QCOMPARE(refusal([&] { ini.writeInteger("Main", "Top", 2); }), "Unable to write to " + m_path);
        QCOMPARE(refusal([&] { ini.eraseSection("Main"); }), "Unable to write to " + m_path);
        QCOMPARE(fileBytes(m_path), before);
        QCOMPARE(ini.readInteger("Main", "Left", 0), 1); // what was written before stays

        const QString inMissingFolder = m_dir->filePath("no/such/folder/x.ini");
        QCOMPARE(refusal([&] { ProfileFile(inMissingFolder).writeString("S", "K", "v"); }),
                 "Unable to write to " + inMissingFolder);

        const QString folder = m_dir->filePath("folder.ini");
        QVERIFY(QDir().mkdir(folder));
        QCOMPARE(refusal([&] { ProfileFile(folder).writeString("S", "K", "v"); }), "Unable to write to " + folder);
        QCOMPARE(ProfileFile(folder).readString("S", "K", "def"), QString("def"));

        // A folder where no file can be made, whoever we are.
        if (QFileInfo(QStringLiteral("/proc/self")).exists()) {
            const QString inProc = QStringLiteral("/proc/profile-test.ini");
            QCOMPARE(refusal([&] { ProfileFile(inProc).writeString("S", "K", "v"); }), "Unable to write to " + inProc);
        }

        if (geteuid() != 0) {
            const QString roFolder = m_dir->filePath("readonly");
            QVERIFY(QDir().mkdir(roFolder));
            const QString path = roFolder + "/x.ini";
            putFile(path, "[S]\r\nK=old\r\n");
            QVERIFY(QFile::setPermissions(roFolder, QFileDevice::ReadOwner | QFileDevice::ExeOwner));
            const QString text = refusal([&] { ProfileFile(path).writeString("S", "K", "new"); });
            QVERIFY(QFile::setPermissions(roFolder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
            QCOMPARE(text, "Unable to write to " + path);
            QCOMPARE(fileBytes(path), QByteArray("[S]\r\nK=old\r\n"));
        }

        // No temporary file is left behind by any refusal.
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList(QFileInfo(m_path).fileName()));

        // A link to a file that is not there: the write is refused, and no file appears at the
        // link's target.
        const QString links = m_dir->filePath("links");
        QVERIFY(QDir().mkdir(links));
        const QString dangling = links + "/dangling.ini";
        QVERIFY(QFile::link(links + "/target.ini", dangling));
        QCOMPARE(refusal([&] { ProfileFile(dangling).writeString("S", "K", "v"); }), "Unable to write to " + dangling);
        QVERIFY(!QFile::exists(links + "/target.ini"));
        QCOMPARE(ProfileFile(dangling).readString("S", "K", "def"), QString("def"));
    }

    void interruptedWriteKeepsOldFile()
    {
        const QByteArray before = "[S]\r\nK=old\r\n";
        putFile(m_path, before);
        QVERIFY(QFile::setPermissions(m_path, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup));

        // A file size limit makes the write fail half way, as a full disk would.
        rlimit old{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &old), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = 4096;
        QCOMPARE(setrlimit(RLIMIT_FSIZE, &small), 0);
        const QString text = refusal([&] { ProfileFile(m_path).writeString("S", "K", QString(100000, 'z')); });
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(text, "Unable to write to " + m_path);
        QCOMPARE(fileBytes(m_path), before);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files), QStringList(QFileInfo(m_path).fileName()));

        // A successful write keeps the file's permissions.
        ProfileFile(m_path).writeString("S", "K", "new");
        QCOMPARE(QFile::permissions(m_path) & 0x7077,
                 QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
    }

    // Threads writing to one file at once: every key of every thread stays in it, and the other
    // lines are kept.
    void concurrentWritesKeepEveryLine()
    {
        putFile(m_path, "; kept\r\n[Other]\r\nA=1\r\n");
        constexpr int kThreads = 4;
        constexpr int kKeys = 40;
        std::atomic<int> refused = 0;
        std::vector<std::thread> threads;
        for (int t = 0; t < kThreads; ++t) {
            threads.emplace_back([&, t] {
                ProfileFile ini(m_path);
                for (int k = 0; k < kKeys; ++k) {
                    try {
                        ini.writeInteger(QStringLiteral("Thread%1").arg(t), QStringLiteral("Key%1").arg(k), k);
                    } catch (const ProfileWriteError &) {
                        ++refused;
                    }
                }
            });
        }
        for (auto &thread : threads)
            thread.join();
        QCOMPARE(refused.load(), 0);
        ProfileFile ini(m_path);
        for (int t = 0; t < kThreads; ++t) {
            const QString section = QStringLiteral("Thread%1").arg(t);
            QCOMPARE(ini.readSection(section).size(), kKeys);
            for (int k = 0; k < kKeys; ++k)
                QCOMPARE(ini.readInteger(section, QStringLiteral("Key%1").arg(k), -1), k);
        }
        QVERIFY(fileBytes(m_path).startsWith("; kept\r\n[Other]\r\nA=1\r\n"));
    }

    // As the Windows call reads: a lone CR ends a line wherever it stands, also among CR LF
    // lines, and a replaced value keeps the CR that ends its line.
    void loneCarriageReturnsEndLines()
    {
        putFile(m_path, "[A]\r\nOne=1\rTwo=2\r\n[B]\rThree=3\r\r\nFour=4\n\rFive=5");
        ProfileFile ini(m_path);
        QCOMPARE(ini.readInteger("A", "One", 0), 1);
        QCOMPARE(ini.readInteger("A", "Two", 0), 2);
        QCOMPARE(ini.readInteger("B", "Three", 0), 3);
        QCOMPARE(ini.readInteger("B", "Four", 0), 4);
        QCOMPARE(ini.readInteger("B", "Five", 0), 5);
        QCOMPARE(ini.readSection("A"), QStringList({"One", "Two"}));
        ini.writeInteger("A", "One", 10);
        ini.writeInteger("B", "Three", 30);
        ini.writeInteger("B", "Six", 6);
        QCOMPARE(fileBytes(m_path), QByteArray("[A]\r\nOne=10\rTwo=2\r\n[B]\rThree=30\r\r\nFour=4\n\rFive=5\r\nSix=6\r\n"));
    }

    void defaultsLoseTheirTrailingBlanks()
    {
        ProfileFile ini(m_path);
        QCOMPARE(ini.readString("S", "K", "  path with blanks  "), QString("  path with blanks"));
        QCOMPARE(ini.readString("S", "K", "   "), QString());
        QCOMPARE(ini.readString("S", "K", "tab\t"), QString("tab\t"));
        // A value present keeps what the file holds inside its quotes.
        putFile(m_path, "[S]\r\nK=\"x  \"\r\n");
        QCOMPARE(ini.readString("S", "K", "d "), QString("x  "));
    }

    // A value with letters that Windows-1251 lacks comes back as it was; one it holds is
    // written as Windows writes it.
    void textsOutsideWindows1251SurviveTheRoundTrip()
    {
        ProfileFile ini(m_path);
        const QString french = QStringLiteral("/home/ünal/Électricité/projet.prj");
        const QString mixed = QStringLiteral("Цех №3 — 日本 🙂");
        ini.writeString("Program Settings", "ProjectFileName", french);
        ini.writeString("Program Settings", "SaveDir", mixed);
        ini.writeString("Program Settings", "Plain", QStringLiteral("Проект №1"));
        QCOMPARE(ini.readString("Program Settings", "ProjectFileName", "-"), french);
        QCOMPARE(ini.readString("Program Settings", "SaveDir", "-"), mixed);
        const QByteArray bytes = fileBytes(m_path);
        QVERIFY(bytes.contains("\r\nPlain=\xCF\xF0\xEE\xE5\xEA\xF2 \xB9\x31\r\n"));
        QVERIFY(bytes.contains("\r\nProjectFileName=\xEF\xBB\xBF/home/\xC3\xBCnal/"));
        // Windows-1251 text that merely starts like the mark is not taken for UTF-8.
        putFile(m_path, "[S]\r\nK=\xEF\xBB\xBF\xCF\xF0\r\n");
        QCOMPARE(ini.readString("S", "K", "-"), QStringLiteral("п»їПр"));
    }

    // A batch makes its changes in order with the result of one call each, and replaces the
    // file once; a thousand keys take one pass.
    void batchIsOneReplacement()
    {
        const QByteArray start = "; head\r\n[Old]\r\nA=1\r\n[Keep]\r\nX=1\r\nY=2\r\n; tail of Keep\r\n[Drop]\r\nZ=1\r\n";
        const QString single = m_dir->filePath("single.ini");
        putFile(m_path, start);
        putFile(single, start);
        const auto changes = [](auto &ini) {
            ini.writeInteger("Keep", "Y", 20);
            ini.writeString("New", "First", "1");
            ini.writeInteger("keep", "Added", 3);
            ini.eraseSection("Drop");
            ini.writeString("NEW", "Second", "2");
            ini.deleteKey("Keep", "X");
            ini.writeInteger("Keep", "Y", 21);
            ini.writeInteger("Keep", "Added", 4);
            ini.writeFloat("Drop", "Again", 1.5);
        };
        ProfileFile one(single);
        changes(one);

        support::RenameCounter renames(m_dir->path(), QFileInfo(m_path).fileName());
        QVERIFY(renames.isValid());
        ProfileBatch batch(m_path);
        changes(batch);
        QCOMPARE(fileBytes(m_path), start); // nothing before the commit
        batch.commit();
        QCOMPARE(fileBytes(m_path), fileBytes(single));
        QCOMPARE(fileBytes(m_path), QByteArray("; head\r\n[Old]\r\nA=1\r\n[Keep]\r\nY=21\r\nAdded=4\r\n; tail of Keep\r\n"
                                               "[New]\r\nFirst=1\r\nSecond=2\r\n[Drop]\r\nAgain=1.5\r\n"));
        const auto counts = renames.take();
        QCOMPARE(counts.renames, 1);
        QCOMPARE(counts.inPlaceWrites, 0);

        ProfileBatch sensors(m_path);
        for (int i = 0; i < 1000; ++i)
            sensors.writeString(QStringLiteral("Sensor%1").arg(i % 7), QStringLiteral("Name%1").arg(i), QString::number(i * 3));
        sensors.commit();
        QCOMPARE(renames.take().renames, 1);
        ProfileFile ini(m_path);
        QCOMPARE(ini.readSection("Sensor3").size(), 143);
        QCOMPARE(ini.readInteger("Sensor5", "Name999", -1), 2997);
        QCOMPARE(ini.readInteger("Keep", "Y", -1), 21);
        batch.commit(); // empty now: nothing happens
        QCOMPARE(renames.take().renames, 0);
    }

    // Two programs writing one file at once, a key at a time: no key of either is lost.
    void twoProcessesLoseNoKeys()
    {
        putFile(m_path, "[Other]\r\nA=1\r\n");
        const QString writer = QCoreApplication::applicationDirPath() + "/profile_writer";
        constexpr int kKeys = 500;
        // Started with posix_spawn (QProcess's way of starting children makes ThreadSanitizer abort).
        Holder first, second;
        QVERIFY(first.startProgram(writer, {m_path, "First", QString::number(kKeys)}));
        QVERIFY(second.startProgram(writer, {m_path, "Second", QString::number(kKeys)}));
        QVERIFY(first.waitForExit(100000));
        QVERIFY(second.waitForExit(100000));
        QCOMPARE(first.exitCode(), 0);
        QCOMPARE(second.exitCode(), 0);
        ProfileFile ini(m_path);
        for (const char *section : {"First", "Second"}) {
            QCOMPARE(ini.readSection(section).size(), kKeys);
            for (int k = 0; k < kKeys; ++k)
                QCOMPARE(ini.readInteger(section, QStringLiteral("Key%1").arg(k), -1), k);
        }
        QCOMPARE(ini.readInteger("Other", "A", 0), 1);
        QCOMPARE(QDir(m_dir->path()).entryList(QDir::Files | QDir::Hidden), QStringList(QFileInfo(m_path).fileName()));
    }

    // Anyone who may read the folder may take its lock and keep it: a save waits a few seconds
    // for it, then is refused, saying which folder is held, and the file stays as it was.
    void heldFolderRefusesTheSave()
    {
        putFile(m_path, "[S]\r\nK=old\r\n");
        const int folder = ::open(QFile::encodeName(m_dir->path()).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(folder >= 0);
        QCOMPARE(::flock(folder, LOCK_EX), 0);
        Holder writer;
        QVERIFY(writer.startProgram(QCoreApplication::applicationDirPath() + "/profile_writer", {m_path, "S", "1"}));
        QVERIFY(writer.waitForExit(60000));
        QCOMPARE(writer.exitCode(), 1);
        QVERIFY(writer.waitForLine(("Unable to write to " + m_path).toLocal8Bit()));
        QVERIFY(writer.waitForLine(QStringLiteral("Папку %1 заняла другая программа (возможно, другого пользователя): "
                                                  "за %2 с она не освободилась. Файл не изменён; сохраните позже.")
                                       .arg(m_dir->path())
                                       .arg(platform::ProfileWriteLock::WaitSeconds)
                                       .toLocal8Bit()));
        QCOMPARE(fileBytes(m_path), QByteArray("[S]\r\nK=old\r\n"));
        // The same within one program; the wait it gave up must not keep the folder afterwards.
        QCOMPARE(refusal([&] { ProfileFile(m_path).writeString("S", "K", "new"); }), "Unable to write to " + m_path);
        ::close(folder);
        ProfileFile(m_path).writeString("S", "K", "new");
        QCOMPARE(fileBytes(m_path), QByteArray("[S]\r\nK=new\r\n"));
    }

    // A named pipe or a device is neither read (which would block) nor replaced.
    void pipesAndDevicesAreNotFiles()
    {
        const QString fifo = m_dir->filePath("pipe.ini");
        QCOMPARE(mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
        QCOMPARE(ProfileFile(fifo).readString("S", "K", "def"), QString("def"));
        QCOMPARE(refusal([&] { ProfileFile(fifo).writeString("S", "K", "v"); }), "Unable to write to " + fifo);
        QVERIFY(QFileInfo(fifo).isFile() == false && QFileInfo(fifo).exists());
        QCOMPARE(ProfileFile("/dev/zero").readString("S", "K", "def"), QString("def"));
    }

    void garbageFiles()
    {
        // Random bytes, lines of megabytes and NUL bytes read as defaults and keep the rest.
        QByteArray garbage;
        quint32 seed = 12345;
        for (int i = 0; i < 200000; ++i) {
            seed = seed * 1103515245u + 12345u;
            garbage += char(seed >> 24);
        }
        const QByteArray hugeLine = "[Big]\r\nHuge=" + QByteArray(3 * 1024 * 1024, '[') + "\r\nAfter=7\r\n";
        const QByteArray nuls(1000, '\0');
        putFile(m_path, garbage + "\r\n" + hugeLine + nuls + "\r\n[Last]\r\nK=1\r\n");
        ProfileFile ini(m_path);
        QCOMPARE(ini.readInteger("Big", "After", 0), 7);
        QCOMPARE(ini.readString("Big", "Huge", "-").size(), 2047);
        QCOMPARE(ini.readInteger("Last", "K", 0), 1);
        QCOMPARE(ini.readInteger("Nowhere", "K", 5), 5);
        ini.writeInteger("Last", "K", 2);
        QCOMPARE(fileBytes(m_path), garbage + "\r\n" + hugeLine + nuls + "\r\n[Last]\r\nK=2\r\n");
    }

    // A snapshot reads the file once and answers every read as ProfileFile does for that text:
    // letter case, blanks and quotes, hexadecimal, duplicates, the 2047-character cut, the code
    // page and all three line ends.
    void snapshotReadsAsTheFileDoes()
    {
        QByteArray text = "; comment\r\n[Main]\r\n  Left = 0x1F \r\nTop=$ff\nBad=12a\rNeg=-7\r\n"
                          "Quoted=\"  a b  \"\r\nEmpty=\r\nA=1\r\nA=2\r\n[Empty]\r\n[MAIN]\r\nA=3\r\nZ=4\r\n"
                          "[Float]\r\nF=12.5\r\nG=1,5\r\nH=-1e3\r\n";
        text += "[Long]\r\nT=" + QByteArray(3000, 'x') + "\r\n";
        text += toCp1251(QStringLiteral("[Ключи]\r\nИмя=Значение\r\n"));
        text += "[Last]\nK=last";  // no final line end
        putFile(m_path, text);

        const platform::ProfileSnapshot snapshot(m_path);
        const ProfileFile file(m_path);
        const QStringList sections = {"Main", "main", "MAIN", "Empty", "Float", "Long", "ключи", "Last", "None"};
        const QStringList keys = {"Left", "TOP", "bad", "Neg", "quoted", "Empty", "a", "Z", "F", "G", "H",
                                  "T", "имя", "K", "None"};
        for (const QString &section : sections) {
            QCOMPARE(snapshot.sectionExists(section), file.sectionExists(section));
            QCOMPARE(snapshot.readSection(section), file.readSection(section));
            for (const QString &key : keys) {
                const QByteArray where = (section + u'/' + key).toUtf8();
                QVERIFY2(snapshot.readString(section, key, " def ") == file.readString(section, key, " def "), where);
                QVERIFY2(snapshot.readInteger(section, key, -99) == file.readInteger(section, key, -99), where);
                QVERIFY2(snapshot.readBool(section, key, true) == file.readBool(section, key, true), where);
                QVERIFY2(snapshot.readFloat(section, key, 0.25) == file.readFloat(section, key, 0.25), where);
                QVERIFY2(snapshot.valueExists(section, key) == file.valueExists(section, key), where);
            }
        }
        QCOMPARE(snapshot.readSections(), file.readSections());
        QCOMPARE(snapshot.readInteger("main", "left", 0), 31);
        QCOMPARE(snapshot.readInteger("Main", "Top", 0), 255);
        QCOMPARE(snapshot.readInteger("Main", "Bad", 5), 5);
        QCOMPARE(snapshot.readInteger("Main", "A", 0), 1);
        QCOMPARE(snapshot.readString("Main", "Quoted", "-"), QStringLiteral("  a b  "));
        QCOMPARE(snapshot.readString("Main", "Empty", "-"), QString());
        QCOMPARE(snapshot.readString("Main", "Z", "def  "), QStringLiteral("def"));
        QCOMPARE(snapshot.readString("Long", "T", "-").size(), 2047);
        QCOMPARE(snapshot.readString("КЛЮЧИ", "ИМЯ", "-"), QStringLiteral("Значение"));
        QCOMPARE(snapshot.readString("Last", "K", "-"), QStringLiteral("last"));
        QCOMPARE(snapshot.readFloat("Float", "G", 0.5), 0.5);
        QCOMPARE(snapshot.readSection("main"), QStringList({"Left", "Top", "Bad", "Neg", "Quoted", "Empty", "A"}));

        // Read once: a later change of the file does not reach it.
        ProfileFile(m_path).writeInteger("Main", "Left", 7);
        QCOMPARE(snapshot.readInteger("Main", "Left", 0), 31);
        QCOMPARE(platform::ProfileSnapshot(m_path).readInteger("Main", "Left", 0), 7);
        QCOMPARE(platform::ProfileSnapshot(m_dir->filePath("missing.ini")).readString("Main", "Left", "d"), QStringLiteral("d"));
    }

private:
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_path;
};

QTEST_GUILESS_MAIN(TestProfile)
#include "tst_profile.moc"
