#pragma once
// The machine's host name.

#include <string>

// The kernel's node name (uname).
std::string NodeName();
