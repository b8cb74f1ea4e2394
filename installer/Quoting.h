#pragma once

#include <string>

// Quoting a word for the two readers the Installer writes commands for: a POSIX shell (the
// commands its messages show) and a desktop entry's Exec key (the entries it installs).
namespace installer
{

// Quotes one word for a POSIX shell, leaving plain words as they are.
std::string ShellQuote(const std::string& strWord);

// One argument of a desktop entry's Exec key: quoted by the freedesktop.org desktop entry rules,
// then escaped as a string value.
std::string DesktopExecArgument(const std::string& strArg);

} // namespace installer
