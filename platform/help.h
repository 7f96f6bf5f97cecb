#pragma once
// Help files, in place of WinHelp: the help file is handed to the desktop's handler for its
// type. A help file that does not exist is reported to the caller, who tells the user (WinHelp
// reported a missing file itself); the handler is not started then.
//
// The desktop opens the file as a whole: a topic (HELP_CONTEXT) cannot be selected from
// outside, so every command opens the file.
#include "platform/messages.h"

#include <QString>

#include <cstdint>
#include <functional>

namespace platform {

constexpr UINT HELP_CONTEXT = 0x0001;
constexpr UINT HELP_CONTENTS = 0x0003;
constexpr UINT HELP_FINDER = 0x000B;

enum class HelpResult { Opened, FileMissing, NotOpened };

// Opens a document with the desktop's handler; true when that was started. A program with a
// GUI passes the toolkit's way (QDesktopServices); without one "xdg-open" is started.
using DocumentOpener = std::function<bool(const QString &path)>;
void SetDocumentOpener(DocumentOpener opener);

HelpResult WinHelp(const QString &helpFile, UINT command, std::uintptr_t data);

// The user's message for a help file that does not exist.
QString HelpFileMissingText(const QString &helpFile);

// The path of fileName in folder, matched without regard to letter case as Windows matches it
// (a help file shipped as "vks74xx.hlp" is found for "Vks74xx.hlp"); folder + fileName when no
// entry matches.
QString FindFileIgnoringCase(const QString &folder, const QString &fileName);

} // namespace platform
