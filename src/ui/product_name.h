#pragma once
#include <string>

// The product's display name, "QuorVel": the log folder's name, the start of the window title
// and the caption of error boxes.
std::string GetProductName();
