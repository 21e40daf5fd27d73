#pragma once
// The console's system report: topology, computer name, system information,
// hardware profile and processor frequency. Each group goes to standard
// output and then, when log is not null, the same text to log.

#include "SystemInfo.h"
#include "WinTypes.h"

#include <cstdio>
#include <filesystem>

class CpuPlatform;

// FALSE when the hardware profile could not be read: the report then ends
// with the error line, and the console run must end too.
BOOL PrintSystemReport(FILE* log);
// On another machine: its processors and the root of its files.
BOOL PrintSystemReport(FILE* log, CpuPlatform& cpu, const std::filesystem::path& root);

// The topology group of a machine, and of what the detection returned.
void PrintTopology(FILE* log, CpuPlatform& cpu, const std::filesystem::path& root);
void PrintTopology(FILE* log, BYTE status, DWORD logicals, DWORD cores, DWORD packages);
void PrintSystemInformation(FILE* log, const SYSTEM_INFO& info);
