#pragma once
// Collects what a piece of the program writes to standard output.

#include <functional>
#include <string>

std::string CaptureStdout(const std::function<void()>& body);
