#pragma once
// Processor topology: the packages (sockets), cores and logical processors
// that this process may run on, as the kernel describes them under
// sys/devices/system/cpu, for any vendor and any count. CPUID tells whether
// the processors can run more than one thread per core.

#include "WinTypes.h"

#include <filesystem>

class CpuPlatform;

constexpr BYTE TOPO_ONE_CORE_SMT_ON = 1;
constexpr BYTE TOPO_ONE_CORE_SMT_OFF = 2;
constexpr BYTE TOPO_ONE_CORE_NO_SMT = 4;
constexpr BYTE TOPO_MULTI_CORE_NO_SMT = 5;
constexpr BYTE TOPO_MULTI_CORE_SMT_ON = 6;
constexpr BYTE TOPO_MULTI_CORE_SMT_OFF = 7;
// The processors this process may run on could not be read: nothing counted.
constexpr BYTE TOPO_AFFINITY_RESTRICTED = 8;

// On this machine.
BYTE DetectTopology(DWORD* logicals, DWORD* cores, DWORD* packages);
// On the given (possibly simulated) machine: its processors and the root of
// its files.
BYTE DetectTopology(CpuPlatform& cpu, const std::filesystem::path& root, DWORD* logicals, DWORD* cores,
                    DWORD* packages);

// The multi-core ("Yes"/"No") and Twinlane ("Enabled"/"Disabled"/"Not capable")
// texts of a status; null for a status without texts (8 and unknown values).
const char* TopologyMultiCoreText(BYTE status);
const char* TopologyTwinlaneText(BYTE status);

// Whether the processor the calling thread runs on was built to run more
// than one logical processor per core.
bool IsSmtCapable(CpuPlatform& cpu);
