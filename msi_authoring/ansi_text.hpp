// Narrow text as the Windows side of the tests has it: bytes of the process's
// ANSI code page, the form in which the actions read their argument and write
// their lines, and in which the narrow calls take paths and names. The
// Installer keeps wide text inside; a process's code page follows the locale
// wine was started with (run.sh sets it for each pass).
#pragma once

#include <string>

namespace quorvel::authoring {

// The ANSI bytes of wide text. A character the code page lacks becomes its
// default character (no best fit), as in the actions' own conversions.
std::string ansi(const std::wstring& text);
// Whether every character of wide text has bytes of its own in the ANSI code
// page, so that ansi() loses nothing.
bool inAnsiCodePage(const std::wstring& text);
// Narrow text of the ANSI code page as wide text.
std::wstring wide(const std::string& text);

}  // namespace quorvel::authoring
