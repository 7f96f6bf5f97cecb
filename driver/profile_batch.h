#pragma once
// Many changes to one profile file written as one replacement of the file.
//
// The driver's settings file holds up to a thousand sensor keys. Written key by key, each write
// would read, edit and atomically replace the whole file (with a sync to disk every time), and a
// crash halfway would leave the file with half the sensors. A ProfileBatch reads the file once,
// takes every change in memory with the same rules as platform::ProfileFile (names without
// regard to letter case, a value replaced in place keeping every other line byte for byte, a new
// key at the end of its section, a new section at the end of the file, the first of two equal
// names counting), and commit() writes the result once, atomically.
//
// Nothing reaches the disk before commit(). A file that exists but cannot be read, and a commit
// that cannot write, throw platform::ProfileWriteError ("Unable to write to <path>").
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

class ProfileBatch {
public:
    explicit ProfileBatch(QString path);

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    void writeFloat(const QString &section, const QString &key, double value);
    void eraseSection(const QString &section);

    void commit();

private:
    struct Line {
        QByteArray bytes;     // the line as in the file, its line end included
        QByteArray key;       // folded key name; empty for lines that are not keys
        qsizetype equals = 0; // keys: place of the "="
    };
    struct Section {
        QByteArray name;      // folded; empty for the lines before the first section
        QList<Line> lines;    // the header line first (none for the lines before it)
        QHash<QByteArray, qsizetype> keys; // first line of each key
        qsizetype lastKey = 0;             // line after which a new key goes
        bool erased = false;
    };

    Section *findSection(const QByteArray &name);
    void parse(const QByteArray &text);

    QString m_path;
    QByteArray m_before;
    QList<Section> m_sections;
};
