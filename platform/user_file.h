#pragma once
// Opening a file that the user named (an EEPROM copy, a project, a calibration file) for
// reading. Only a regular file is opened, and the open never waits: a named pipe would block
// the open until some writer came (and the program could no longer be closed), and a device
// hands out endless bytes, none, or moves its lines when opened. Anything but a regular file is
// refused before it is opened, and checked again on the open descriptor, so that a name
// swapped for a pipe in between cannot block either.
#include <QString>

#include <stdexcept>

class QFile;

namespace platform {

class UserFileError : public std::runtime_error {
public:
    enum Kind {
        NotRegular, // a named pipe, a device, a folder, a socket
        CannotOpen, // missing, no permission, ...; reason() says which
    };
    UserFileError(QString path, Kind kind, QString reason);
    const QString &path() const { return m_path; }
    Kind kind() const { return m_kind; }
    const QString &reason() const { return m_reason; } // why, in the user's words (file_error.h)

private:
    QString m_path;
    Kind m_kind;
    QString m_reason;
};

// Opens path for reading into file (which takes the descriptor); throws UserFileError.
void openRegularFile(QFile &file, const QString &path);
// The same check without keeping the file open.
void requireRegularFile(const QString &path);
// The descriptor of path opened for reading, or -1 (errno set; EINVAL for anything but a
// regular file). For callers that handle a refusal themselves.
int openRegularDescriptor(const QString &path);

} // namespace platform
