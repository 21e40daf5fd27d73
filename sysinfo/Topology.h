#pragma once
// Processor topology: packages, cores and logical processors, found by
// pinning the calling thread to each processor and reading its initial APIC
// identifier through CPUID.

#include "WinTypes.h"

class CpuPlatform;

constexpr BYTE TOPO_ONE_CORE_SMT_ON = 1;
constexpr BYTE TOPO_ONE_CORE_SMT_OFF = 2;
constexpr BYTE TOPO_ONE_CORE_NO_SMT = 4;
constexpr BYTE TOPO_MULTI_CORE_NO_SMT = 5;
constexpr BYTE TOPO_MULTI_CORE_SMT_ON = 6;
constexpr BYTE TOPO_MULTI_CORE_SMT_OFF = 7;
constexpr BYTE TOPO_AFFINITY_RESTRICTED = 8;

// On this machine.
BYTE DetectTopology(DWORD* logicals, DWORD* cores, DWORD* packages);
// On the given (possibly simulated) machine.
BYTE DetectTopology(CpuPlatform& cpu, DWORD* logicals, DWORD* cores, DWORD* packages);

// The multi-core ("Yes"/"No") and Twinlane ("Enabled"/"Disabled"/"Not capable")
// texts of a status; null for a status without texts (8 and unknown values).
const char* TopologyMultiCoreText(BYTE status);
const char* TopologyTwinlaneText(BYTE status);

// The CPUID reads behind the detection, each on the processor the calling
// thread runs on at that moment.
DWORD CpuidMaxLeaf(CpuPlatform& cpu);
// True for the one vendor whose per-package counts the detection trusts.
bool IsTopologyVendor(CpuPlatform& cpu);
// 1 unless the vendor is trusted and leaf 1 says its count is valid.
DWORD LogicalPerPackage(CpuPlatform& cpu);
DWORD CoresPerPackage(CpuPlatform& cpu);
// Bits needed for count distinct identifiers, from the low 16 bits of
// count - 1: 1 gives 0, 2 gives 1, 3 and 4 give 2, 0 gives 16.
DWORD MaskWidth(DWORD count);
