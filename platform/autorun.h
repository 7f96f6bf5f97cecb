#pragma once
// Starting a program when the user logs in, in place of the "Run" key of the Windows registry:
// an entry of the desktop's per-user autostart folder (XDG autostart), which every desktop
// that follows the freedesktop.org rules reads at login.
//
// - The folder is $XDG_CONFIG_HOME/autostart, or ~/.config/autostart when that is unset or not
//   an absolute path; it is made when missing.
// - An entry is one file "<id>.desktop" holding a desktop entry of type Application with the
//   given name, the program as its command (quoted, so paths with blanks or other special
//   characters stay whole; a path with "%" started through /bin/sh, so that the command holds
//   no "%", which GLib would refuse) and the program's working folder.
// - Writing replaces the file atomically, so a crash never leaves half an entry; removing an
//   entry that is not there succeeds.
#include <QString>

namespace platform {

QString autostartDir();

// The path of the entry file for an id ("tagpump" gives ".../autostart/tagpump.desktop").
QString autorunEntryPath(const QString &id);

// Writes the entry: a login starts `program` in `workingDir`. False when the folder or the file
// cannot be written; any older entry of that id then stays as it was.
bool setAutorunEntry(const QString &id, const QString &name, const QString &program, const QString &workingDir);

// Removes the entry. True when it is gone afterwards (also when it never existed).
bool removeAutorunEntry(const QString &id);

} // namespace platform
