#pragma once
// The files that describe a machine (proc/cpuinfo, sys/..., etc/machine-id),
// read below a root: "/" for this machine, a fixture tree in tests.

#include <filesystem>
#include <map>
#include <optional>
#include <string>

// The whole file; nullopt when it cannot be read, with errno's code in *error.
std::optional<std::string> ReadMachineFile(const std::filesystem::path& root, const std::filesystem::path& relative,
                                           int* error = nullptr);

// The first line of a file without its trailing white space; nullopt when the
// file cannot be read or that line is empty.
std::optional<std::string> ReadMachineLine(const std::filesystem::path& root, const std::filesystem::path& relative);

// The "name : value" fields of the first processor in proc/cpuinfo. Values
// are kept as stored after the separator ": ", leading blanks included.
using CpuInfoFields = std::map<std::string, std::string>;
std::optional<CpuInfoFields> ReadFirstProcessorInfo(const std::filesystem::path& root, int* error = nullptr);
