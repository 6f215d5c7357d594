// Small text helpers shared by the programs' command-line and script readers.
#pragma once

#include <string>
#include <vector>

namespace DruxApps {

std::string trim(const std::string& text);
// Splits off the first whitespace-separated word; *rest receives the remainder
// without its leading blanks. Empty word when the text is blank.
std::string firstWord(const std::string& text, std::string* rest);
// A decimal integer that fills the whole text.
bool parseInteger(const std::string& text, long* value);
// A TCP port 1..65535; otherwise false with *error = what + "\"<text>\" is
// not a port (1..65535)".
bool parsePort(const std::string& text, const std::string& what, int* port, std::string* error);
// The value after option argv[*i], which *i then points at; false with a
// readable reason when it is missing.
bool takeValue(int argc, char** argv, int* i, std::string* value, std::string* error);
// A log tag names the log file vantrel-<tag>.log: a non-empty name without '/'.
bool checkLogTag(const std::string& tag, std::string* error);
// A non-negative decimal number of seconds ("2", "0.5").
bool parseSeconds(const std::string& text, double* seconds);
// The running executable's directory (no trailing separator); its path is
// system.h's executablePath().
std::string executableDirectory();
std::string fileName(const std::string& path);

}  // namespace DruxApps
