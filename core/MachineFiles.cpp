#include "MachineFiles.h"

#include <cerrno>
#include <string_view>

#include <fcntl.h>
#include <unistd.h>

namespace {

void ReportError(int* error, int code)
{
    if (error)
        *error = code;
}

std::string_view TrimRight(std::string_view text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// "model name\t: Intel(R) ..." gives ("model name", "Intel(R) ..."); the
// kernel pads names with tabs and puts one blank after the colon.
bool SplitField(std::string_view line, std::string& name, std::string& value)
{
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos)
        return false;
    name = TrimRight(line.substr(0, colon));
    std::string_view rest = line.substr(colon + 1);
    if (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    value = rest;
    return true;
}

} // namespace

std::optional<std::string> ReadMachineFile(const std::filesystem::path& root, const std::filesystem::path& relative,
                                           int* error)
{
    const int fd = open((root / relative).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        ReportError(error, errno);
        return std::nullopt;
    }
    // Files under /proc and /sys report no size: read until the end.
    std::string text;
    char buffer[4096];
    ssize_t n;
    while ((n = read(fd, buffer, sizeof buffer)) > 0)
        text.append(buffer, static_cast<size_t>(n));
    const int readError = errno;
    close(fd);
    if (n < 0) {
        ReportError(error, readError);
        return std::nullopt;
    }
    return text;
}

std::optional<std::string> ReadMachineLine(const std::filesystem::path& root, const std::filesystem::path& relative)
{
    const std::optional<std::string> text = ReadMachineFile(root, relative);
    if (!text)
        return std::nullopt;
    const std::string_view line = TrimRight(std::string_view(*text).substr(0, text->find('\n')));
    if (line.empty())
        return std::nullopt;
    return std::string(line);
}

std::optional<CpuInfoFields> ReadFirstProcessorInfo(const std::filesystem::path& root, int* error)
{
    const std::optional<std::string> text = ReadMachineFile(root, "proc/cpuinfo", error);
    if (!text)
        return std::nullopt;
    CpuInfoFields fields;
    std::string_view rest = *text;
    while (!rest.empty()) {
        const size_t end = rest.find('\n');
        const std::string_view line = rest.substr(0, end);
        rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
        // A blank line ends one processor's block.
        if (line.empty() && !fields.empty())
            break;
        std::string name;
        std::string value;
        if (SplitField(line, name, value))
            fields.emplace(std::move(name), std::move(value));
    }
    return fields;
}
