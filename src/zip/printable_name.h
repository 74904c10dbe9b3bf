#pragma once
// Entry names as they may be shown: in the log and on a terminal.

#include <string>

// |name| with every control character (below 0x20, and 0x7F) written as \xHH, so that a name
// can neither start a new log line nor send a terminal escape sequence.
std::string PrintableName(const std::string& name);
