#pragma once
// Collects what a piece of the program writes to standard output or error.

#include <functional>
#include <string>

std::string CaptureStdout(const std::function<void()>& body);
std::string CaptureStderr(const std::function<void()>& body);
