#pragma once
// Conversion between a program's argument vector and the one-string command
// line that a Windows program receives, by the C runtime's splitting rules.

#include <string>
#include <vector>

// Joins arguments into a command line that SplitCommandLine splits back into
// the same arguments: an argument that is empty or holds a blank, a tab or a
// double quote is put in double quotes, with its quotes escaped.
std::string JoinCommandLine(const std::vector<std::string>& args);

// Splits a command line: the first token (the program) ends at the first blank
// or tab, or at the closing quote when it begins with one; the others follow
// the runtime's rules for double quotes and the backslashes before them.
std::vector<std::string> SplitCommandLine(const std::string& commandLine);
