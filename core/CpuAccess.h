#pragma once
// The processors as this process sees them: CPUID on the processor the
// calling thread runs on, the affinity of the process and of the calling
// thread, and the kernel's lists of processors. Numbers are the kernel's
// processor numbers.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

struct CpuidRegisters {
    std::uint32_t eax = 0;
    std::uint32_t ebx = 0;
    std::uint32_t ecx = 0;
    std::uint32_t edx = 0;
};

// All zero on a machine without CPUID.
CpuidRegisters ReadCpuid(std::uint32_t leaf, std::uint32_t subleaf);

// The processors a process (0: this one) may run on (its main thread's
// affinity, which every thread it starts inherits), ascending; nullopt when
// it cannot be read.
std::optional<std::vector<unsigned>> ProcessAffinity(int pid = 0);
// Restricts the calling thread to these processors; false when it cannot be
// done (the affinity is then unchanged).
bool PinCallingThread(const std::vector<unsigned>& cpus);

// The processors of a kernel CPU list such as "0-3,8,10-11" (the format of
// sys/devices/system/cpu/online), in the list's order; empty for text that
// is not such a list.
std::vector<unsigned> ParseCpuList(std::string_view list);
// The online processors as the root's sys/devices/system/cpu/online lists
// them; empty when the file cannot be read.
std::vector<unsigned> OnlineCpus(const std::filesystem::path& root = "/");
