#pragma once
// The driver's daily log: one file a day in the folder LogFileDIR, named after the date, in
// Windows-1251 with every line ended by a carriage return alone. TProgramControl::WriteLog
// (driver_log.cpp) writes one entry; the window thread and the polling thread both call it, and
// the controller's LogLock puts the calls one after another.
//
// - The file is opened and closed on every call, so each line is on disk when WriteLog returns
//   and another program may read or move the file between calls.
// - The file name uses the system's short date format with every character that cannot stand
//   in a file name ("/", "\", ":", "*", "?", '"', "<", ">", "|" and control characters)
//   replaced by "-": "08.12.2026.log" stays as it is, "12/8/26" becomes "12-8-26.log". The lines
//   themselves show the date as the system writes it.
// - An empty LogFileDIR means the default folder, the working folder + "Logs".
// - A line that cannot be written never stops the caller: WriteLog returns false, and the
//   failure is reported once on the window thread, with its reason as the settings file's box
//   says it ("Unable to write to <path>", then "На диске нет места." on a line of its own); it is
//   reported again only after a line was written in between.
#include <QDateTime>
#include <QString>

#include <functional>

namespace driverlog {

using Clock = std::function<QDateTime()>;
using FailureReporter = std::function<void(const QString &text)>;

// The clock that dates the entries and names the files (tests set their own); an empty
// function puts the system clock back.
void SetClock(Clock clock);
// Where a failure goes; by default a warning box on the window thread. Empty puts it back.
void SetFailureReporter(FailureReporter reporter);

// The file name part of a day: the short date in its file-name-safe form, then ".log".
QString DayFileName(const QDate &date);
// The date as the lines show it: the system's short date format (the time beside it is
// LongTimeText, variableset.h).
QString DateText(const QDate &date);

} // namespace driverlog
