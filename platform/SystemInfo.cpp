#include "SystemInfo.h"

#include "MachineFiles.h"

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <string>

#include <unistd.h>

namespace {

constexpr size_t MACHINE_ID_DIGITS = 32;

struct Architecture {
    WORD value;
    DWORD processorType;
};

constexpr Architecture ThisArchitecture()
{
#if defined(__x86_64__)
    return {PROCESSOR_ARCHITECTURE_AMD64, PROCESSOR_AMD_X8664};
#elif defined(__i386__)
    return {PROCESSOR_ARCHITECTURE_INTEL, PROCESSOR_INTEL_PENTIUM};
#elif defined(__aarch64__)
    return {PROCESSOR_ARCHITECTURE_ARM64, 0};
#elif defined(__arm__)
    return {PROCESSOR_ARCHITECTURE_ARM, 0};
#elif defined(__ia64__)
    return {PROCESSOR_ARCHITECTURE_IA64, 0};
#else
    return {PROCESSOR_ARCHITECTURE_UNKNOWN, 0};
#endif
}

WORD ProcessorFamily(const std::filesystem::path& root)
{
    const auto fields = ReadFirstProcessorInfo(root);
    if (!fields)
        return 0;
    const auto family = fields->find("cpu family");
    if (family == fields->end())
        return 0;
    WORD value = 0;
    std::from_chars(family->second.data(), family->second.data() + family->second.size(), value);
    return value;
}

bool IsMachineId(const std::string& text)
{
    if (text.size() != MACHINE_ID_DIGITS)
        return false;
    for (const char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)))
            return false;
    return true;
}

} // namespace

void GetSystemInfo(LPSYSTEM_INFO info, const std::filesystem::path& root)
{
    *info = {};
    info->wProcessorArchitecture = ThisArchitecture().value;
    info->wReserved = 0;
    info->dwProcessorType = ThisArchitecture().processorType;
    info->dwPageSize = static_cast<DWORD>(sysconf(_SC_PAGESIZE));
    info->wProcessorLevel = ProcessorFamily(root);
}

BOOL GetCurrentHwProfileA(LPHW_PROFILE_INFOA info, const std::filesystem::path& root)
{
    int error = 0;
    std::optional<std::string> id = ReadMachineFile(root, "etc/machine-id", &error);
    if (id && !id->empty() && id->back() == '\n')
        id->pop_back();
    if (id && !IsMachineId(*id))
        error = EINVAL;
    if (!id || error) {
        SetLastError(static_cast<DWORD>(error));
        return FALSE;
    }
    info->dwDockInfo = DOCKINFO_UNDOCKED;
    std::snprintf(info->szHwProfileGuid, sizeof info->szHwProfileGuid, "{%.8s-%.4s-%.4s-%.4s-%.12s}", id->c_str(),
                  id->c_str() + 8, id->c_str() + 12, id->c_str() + 16, id->c_str() + 20);
    const std::string name = ReadMachineLine(root, "sys/class/dmi/id/product_name").value_or("Default");
    std::snprintf(info->szHwProfileName, sizeof info->szHwProfileName, "%s", name.c_str());
    return TRUE;
}
