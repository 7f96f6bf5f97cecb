#pragma once
// The C library's character set made UTF-8 for the program's whole life, whatever the user's
// language setting. Qt takes every text it gives to the system as UTF-8, but its X11 platform
// writes the old-style window title property (WM_NAME) in the character set of the C library's
// locale: with LANG unset, "C" or "POSIX" (containers, servers, a fresh minimal system), or
// naming a locale that is not installed, a Russian caption would reach window managers and
// tools that read that property as Latin-1 bytes of UTF-8.

namespace platform {

// Makes the character-set category (LC_CTYPE) UTF-8 when the user's locale is not; language,
// numbers and dates stay as the user set them. Call once, after the application object exists
// (Qt sets the C library's locale from the environment there) and before the first window.
void UseUtf8CharacterSet();

} // namespace platform
