#pragma once
// Names of DDE services and where a service is reached.
#include <QString>

namespace platform {

// The service name of a program: its file name less its extension, the text from the last "."
// ("tagpump" for "/opt/drv/tagpump.bin" or "C:\Drv\tagpump.exe", "my.ctl" for "my.ctl.exe"). Both "/" and "\" separate folders, so that
// paths stored by the Windows programs keep naming the same service.
QString ddeServiceName(const QString &programPath);

// The program to start for a program path: the path less its extension (the text after the file
// name's last "." and that "."), when such a file exists; otherwise the path as given, since
// programs here rarely carry an extension.
QString ddeProgramToStart(const QString &programPath);

// A topic or item name: 1 to 255 characters, none of them a control character.
bool isValidDdeName(const QString &name);

// The key under which names are compared: letter case does not count.
QString ddeNameKey(const QString &name);

// The socket of a service in the user's runtime folder, and the lock file that its server holds
// while it runs. Empty when the runtime folder cannot be had.
QString ddeSocketPath(const QString &service);
QString ddeLockPath(const QString &service);

} // namespace platform
