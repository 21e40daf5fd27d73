#include "Registry.h"

#include "MachineFiles.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>

#include <strings.h>
#include <sys/utsname.h>

namespace {


// Registry names ignore case.
struct NameLess {
    bool operator()(const std::string& a, const std::string& b) const { return strcasecmp(a.c_str(), b.c_str()) < 0; }
};

struct RegistryValue {
    DWORD type;
    std::string bytes;  // text values include their terminating zero
};

} // namespace

// Either a machine's root key, or an opened key with its values read at the
// opening.
struct RegistryKey {
    bool isMachine;
    std::filesystem::path root;
    std::map<std::string, RegistryValue, NameLess> values;
};

namespace {

RegistryKey thisMachine{true, "/", {}};

RegistryValue TextValue(const std::string& text)
{
    return {REG_SZ, std::string(text.c_str(), text.size() + 1)};
}

RegistryValue NumberValue(DWORD number)
{
    return {REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof number)};
}

std::optional<DWORD> ParseDword(const std::string& text)
{
    DWORD value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data())
        return std::nullopt;
    return value;
}

std::optional<std::string> Field(const CpuInfoFields& fields, const char* name)
{
    const auto field = fields.find(name);
    return field == fields.end() ? std::nullopt : std::optional<std::string>(field->second);
}

std::optional<std::string> Identifier(const CpuInfoFields& fields)
{
    const auto family = Field(fields, "cpu family");
    const auto model = Field(fields, "model");
    const auto stepping = Field(fields, "stepping");
    if (!family || !model || !stepping)
        return std::nullopt;
    utsname names{};
    uname(&names);
    return std::string(names.machine) + " Family " + *family + " Model " + *model + " Stepping " + *stepping;
}

// cpufreq's files hold kHz. The base frequency (intel_pstate) is the nominal
// one; the maximum includes turbo where no base is given.
std::optional<DWORD> CpufreqMHz(const std::filesystem::path& root, DWORD processor)
{
    const std::filesystem::path cpufreq = "sys/devices/system/cpu/cpu" + std::to_string(processor) + "/cpufreq";
    for (const char* file : {"base_frequency", "cpuinfo_max_freq"}) {
        const auto line = ReadMachineLine(root, cpufreq / file);
        const auto kHz = line ? ParseDword(*line) : std::nullopt;
        if (kHz)
            return (*kHz + 500) / 1000;
    }
    return std::nullopt;
}

std::optional<DWORD> NominalMHz(const std::filesystem::path& root, const CpuInfoFields& fields)
{
    const auto processor = Field(fields, "processor");
    if (const auto mhz = CpufreqMHz(root, ParseDword(processor.value_or("0")).value_or(0)))
        return mhz;
    const auto cpuMHz = Field(fields, "cpu MHz");
    if (!cpuMHz)
        return std::nullopt;
    char* end = nullptr;
    const double mhz = std::strtod(cpuMHz->c_str(), &end);
    if (end == cpuMHz->c_str() || !(mhz >= 0 && mhz <= 0xFFFFFFFFu))
        return std::nullopt;
    return static_cast<DWORD>(std::lround(mhz));
}

LSTATUS StatusOfErrno(int error)
{
    return error == EACCES || error == EPERM ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
}

} // namespace

const HKEY HKEY_LOCAL_MACHINE = &thisMachine;

LSTATUS RegConnectRegistryA(LPCSTR machineName, HKEY hKey, PHKEY result)
{
    if (hKey != HKEY_LOCAL_MACHINE || !result)
        return ERROR_INVALID_PARAMETER;
    *result = machineName && *machineName ? new RegistryKey{true, machineName, {}} : HKEY_LOCAL_MACHINE;
    return ERROR_SUCCESS;
}

LSTATUS RegOpenKeyExA(HKEY hKey, LPCSTR subKey, DWORD, REGSAM, PHKEY result)
{
    if (!hKey || !hKey->isMachine || !result)
        return ERROR_INVALID_HANDLE;
    if (!subKey || strcasecmp(subKey, CENTRAL_PROCESSOR_0) != 0)
        return ERROR_FILE_NOT_FOUND;
    int error = 0;
    const std::optional<CpuInfoFields> fields = ReadFirstProcessorInfo(hKey->root, &error);
    if (!fields)
        return StatusOfErrno(error);

    auto key = new RegistryKey{false, hKey->root, {}};
    if (const auto name = Field(*fields, "model name"))
        key->values["ProcessorNameString"] = TextValue(*name);
    if (const auto identifier = Identifier(*fields))
        key->values["Identifier"] = TextValue(*identifier);
    if (const auto mhz = NominalMHz(hKey->root, *fields))
        key->values["~MHz"] = NumberValue(*mhz);
    *result = key;
    return ERROR_SUCCESS;
}

LSTATUS RegQueryValueExA(HKEY hKey, LPCSTR valueName, LPDWORD, LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    if (!hKey || hKey->isMachine)
        return ERROR_INVALID_HANDLE;
    if ((data && !dataSize) || !valueName)
        return ERROR_INVALID_PARAMETER;
    const auto value = hKey->values.find(valueName);
    if (value == hKey->values.end())
        return ERROR_FILE_NOT_FOUND;
    if (type)
        *type = value->second.type;
    const std::string& bytes = value->second.bytes;
    const DWORD capacity = dataSize ? *dataSize : 0;
    if (dataSize)
        *dataSize = static_cast<DWORD>(bytes.size());
    if (!data)
        return ERROR_SUCCESS;
    if (bytes.size() > capacity) {
        if (value->second.type == REG_SZ && capacity > 0)
            data[0] = 0;
        return ERROR_MORE_DATA;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    return ERROR_SUCCESS;
}

LSTATUS RegCloseKey(HKEY hKey)
{
    if (!hKey)
        return ERROR_INVALID_HANDLE;
    if (hKey != HKEY_LOCAL_MACHINE)
        delete hKey;
    return ERROR_SUCCESS;
}
