#pragma once
// Profile (INI) files with the semantics of the Windows profile API, which the programs'
// settings, project and calibration files rely on.
//
// - Section and key names match without regard to letter case.
// - Files are Windows-1251 with CR LF line ends; LF alone reads the same.
// - A missing key gives the caller's default; a key present with an empty value reads empty.
// - Texts read at most 2047 characters.
// - Keys and values are read without surrounding blanks; a value in a pair of matching double or
//   single quotes reads without them. Lines starting with ";" are comments.
// - Integers read as decimal, or hexadecimal after "0x", "0X" or "$"; anything else gives the
//   default. Booleans read as integers, non-zero is true. Writes are decimal, booleans "1"/"0".
// - Floats read as decimal text with "." as separator and an optional exponent ("12.5",
//   "-1e3"); anything else gives the default. writeFloat writes the shortest such text with at
//   most 15 significant digits ("1000", "12.5").
// - A value written with a line break in it has the break replaced by a blank, so that a value
//   can never add lines of its own.
// - Where a section or key stands twice, the first one counts.
// - A write replaces the value in place and keeps every other line byte for byte; a new key goes
//   at the end of its section, a new section at the end of the file.
// - Every write is atomic (a temporary file beside the target, then rename), so a crash or a
//   full disk never leaves a truncated file. A refused write throws ProfileWriteError with the
//   text "Unable to write to <path>"; what was written before stays written.
// - Every call reads the file as it is on disk now; no state is kept between calls. Writes from
//   the threads of one process go one at a time, so none loses another's change.
#include <QString>
#include <QStringList>

#include <stdexcept>

namespace platform {

class ProfileWriteError : public std::runtime_error {
public:
    explicit ProfileWriteError(const QString &path);
    QString path() const { return m_path; }
    QString text() const; // "Unable to write to <path>"

private:
    QString m_path;
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

} // namespace platform
