#pragma once
// Profile (INI) files with the semantics of the Windows profile API, which the programs'
// settings, project and calibration files rely on.
//
// - Section and key names match without regard to letter case.
// - Files are Windows-1251 with CR LF line ends; LF alone or CR alone ends a line too, wherever
//   it stands (also in a file whose other lines end in CR LF).
// - A UTF-8 byte-order mark at the start of a file (as many editors save) reads as absent, and a
//   write keeps it; values are read and written by the rule below whether it is there or not.
// - A missing key gives the caller's default, without its trailing blanks; a key present with an
//   empty value reads empty.
// - Texts read at most 2047 characters.
// - Keys and values are read without surrounding blanks; a value in a pair of matching double or
//   single quotes reads without them. Lines starting with ";" are comments.
// - Integers read as decimal, or hexadecimal after "0x", "0X" or "$"; anything else gives the
//   default. Booleans read as integers, non-zero is true. Writes are decimal, booleans "1"/"0".
// - Floats read as decimal text with "." as separator and an optional exponent ("12.5",
//   "-1e3"); anything else gives the default. writeFloat writes the shortest such text with at
//   most 15 significant digits ("1000", "12.5").
// - A value that Windows-1251 cannot hold (a path with "É") is written as UTF-8 behind a
//   byte-order mark and reads back as it was (codepage.h, toStoredText); every other value is
//   written as the Windows call writes it.
// - A value written with a line break in it has the break replaced by a blank, so that a value
//   can never add lines of its own.
// - Where a section or key stands twice, the first one counts.
// - A write replaces the value in place and keeps every other line byte for byte; a new key goes
//   at the end of its section, a new section at the end of the file.
// - Every change is a read, an edit and an atomic replacement of the whole file (atomic_file.h):
//   a crash or a full disk never leaves a truncated file. A refused write throws
//   ProfileWriteError with the text "Unable to write to <path>" and the reason, and the file
//   stays as it was. A file marked read-only (no write permission for its owner) is refused,
//   for the superuser too.
// - The read-modify-write is locked against every thread and every process that writes a
//   profile file in that folder (an flock on the folder), so two programs saving at once lose
//   none of each other's keys. Readers need no lock: they see the old file or the new one.
// - ProfileBatch gathers many changes and makes them in one replacement of the file, so that a
//   save of many keys is one rename that other readers see whole or not at all.
// - Every call of ProfileFile reads the file as it is on disk now; no state is kept between
//   calls. ProfileSnapshot reads it once and answers many reads from that one text.
#include <QByteArrayView>
#include <QHash>
#include <QString>
#include <QStringList>

#include <stdexcept>
#include <vector>

namespace platform {

class ProfileWriteError : public std::runtime_error {
public:
    explicit ProfileWriteError(const QString &path, QString reason = QString());
    QString path() const { return m_path; }
    QString text() const; // "Unable to write to <path>"
    // Why, in the user's words (file_error.h); empty when not known.
    const QString &reason() const { return m_reason; }
    // What the user is shown: the text, then the reason on a line of its own.
    QString message() const;

private:
    QString m_path;
    QString m_reason;
};

class ProfileFile {
public:
    static constexpr int MaxTextLength = 2047;

    explicit ProfileFile(QString path);
    const QString &fileName() const { return m_path; }

    QString readString(const QString &section, const QString &key, const QString &def) const;
    int readInteger(const QString &section, const QString &key, int def) const;
    bool readBool(const QString &section, const QString &key, bool def) const;
    double readFloat(const QString &section, const QString &key, double def) const;

    // Each write, erase and delete is a batch of its own (one replacement of the file).
    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    void writeFloat(const QString &section, const QString &key, double value);

    // True when the section holds at least one key (an empty "[name]" alone does not count).
    bool sectionExists(const QString &section) const;
    bool valueExists(const QString &section, const QString &key) const;
    // The keys of the first section of that name, in file order, each name once.
    QStringList readSection(const QString &section) const;
    // The names of all sections, in file order, each name once.
    QStringList readSections() const;
    // Removes every section of that name with all its lines.
    void eraseSection(const QString &section);
    // Removes the key (every line of it) from the first section of that name.
    void deleteKey(const QString &section, const QString &key);

private:
    QString m_path;
};

// The reading twin of ProfileBatch: the file is read once, when the snapshot is made, and every
// read after that gives what the same call of ProfileFile would have given for that text,
// without touching the disk again. A load of many keys (the driver's tens of thousands of
// sensors) thus costs one read and one pass over the file instead of one of each per key.
class ProfileSnapshot {
public:
    explicit ProfileSnapshot(const QString &path);

    QString readString(const QString &section, const QString &key, const QString &def) const;
    int readInteger(const QString &section, const QString &key, int def) const;
    bool readBool(const QString &section, const QString &key, bool def) const;
    double readFloat(const QString &section, const QString &key, double def) const;
    bool sectionExists(const QString &section) const;
    bool valueExists(const QString &section, const QString &key) const;
    QStringList readSection(const QString &section) const;
    QStringList readSections() const;

private:
    struct Section {
        QHash<QByteArray, QByteArrayView> values; // folded key name: its value in m_text
        QStringList keys;                          // key names in file order, each once
    };
    const QByteArrayView *value(const QString &section, const QString &key) const;

    QByteArray m_text;
    QHash<QByteArray, Section> m_sections; // folded name: the first section of that name
    QStringList m_sectionNames;
};

// Changes to one profile file, gathered and then made together by commit(): one locked read,
// the changes applied in the order given (with the same result as one call each), and one
// replacement of the file. Nothing is read or locked before commit().
class ProfileBatch {
public:
    explicit ProfileBatch(QString path);
    const QString &fileName() const { return m_path; }

    void writeString(const QString &section, const QString &key, const QString &value);
    void writeInteger(const QString &section, const QString &key, int value);
    void writeBool(const QString &section, const QString &key, bool value);
    void writeFloat(const QString &section, const QString &key, double value);
    void eraseSection(const QString &section);
    void deleteKey(const QString &section, const QString &key);

    // Makes the changes; throws ProfileWriteError and leaves the file as it was when refused.
    // The batch is empty afterwards, also when refused.
    void commit();

private:
    struct Edit {
        enum Kind { Write, EraseSection, DeleteKey };
        Kind kind;
        QString section;
        QString key;
        QByteArray value; // writes: the bytes as they go into the file
    };
    static QByteArray applied(const QByteArray &text, const std::vector<Edit> &edits);

    QString m_path;
    std::vector<Edit> m_edits;
};

} // namespace platform
