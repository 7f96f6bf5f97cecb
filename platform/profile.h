#pragma once
// Profile (INI) files with the semantics of the Windows profile API, which the programs'
// settings, project and calibration files rely on.
//
// - Section and key names match without regard to letter case.
// - Files are Windows-1251 with CR LF line ends; LF alone reads the same.
// - A missing key gives the caller's default; a key present with an empty value reads empty.
// - Texts read at most 2047 characters.
// - Integers read as decimal, or hexadecimal after "0x", "0X" or "$"; anything else gives the
//   default. Booleans read as integers, non-zero is true. Writes are decimal, booleans "1"/"0".
// - Where a section or key stands twice, the first one counts.
// - A write replaces the value in place and keeps every other line byte for byte; a new key goes
//   at the end of its section, a new section at the end of the file.
// - Every write is atomic (a temporary file beside the target, then rename), so a crash or a
//   full disk never leaves a truncated file. A refused write throws ProfileWriteError with the
//   text "Unable to write to <path>"; what was written before stays written.
// - Every call reads the file as it is on disk now; no state is kept between calls.
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

    bool sectionExists(const QString &section) const;
    bool valueExists(const QString &section, const QString &key) const;
    QStringList readSection(const QString &section) const; // the keys, in file order
    QStringList readSections() const;
    void eraseSection(const QString &section);
    void deleteKey(const QString &section, const QString &key);

private:
    QString m_path;
};

} // namespace platform
