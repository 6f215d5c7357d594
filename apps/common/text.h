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
// A TCP port 1..65535.
bool parsePort(const std::string& text, int* port);
// A non-negative decimal number of seconds ("2", "0.5").
bool parseSeconds(const std::string& text, double* seconds);
// The directory of the running executable (no trailing separator).
std::string executableDirectory();
std::string fileName(const std::string& path);

}  // namespace DruxApps
