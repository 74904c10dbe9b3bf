#pragma once
// The ui tests write the log to a file of their own (opened before any window exists) and read
// it back.
#include <string>
#include <vector>

std::vector<std::string> TestLogLines();
