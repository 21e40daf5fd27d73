#include "ProcFiles.h"

#include <cerrno>
#include <charconv>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <utility>

namespace {

bool ParseNumber(std::string_view token, std::uint64_t& value)
{
    const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), value);
    return error == std::errc() && end == token.data() + token.size();
}

// Field 3 of the stat line is the first after the command name.
constexpr int kFirstField = 3;
constexpr int kStateField = 3;
constexpr int kParentField = 4;
constexpr int kGroupField = 5;
constexpr int kSessionField = 6;
constexpr int kFlagsField = 9;
constexpr int kChildrenUserField = 16;
constexpr int kChildrenSystemField = 17;
constexpr int kNumThreadsField = 20;
constexpr int kStartTimeField = 22;

} // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept
{
    if (this != &other) {
        if (m_fd >= 0)
            close(m_fd);
        m_fd = other.Release();
    }
    return *this;
}

UniqueFd::~UniqueFd()
{
    if (m_fd >= 0)
        close(m_fd);
}

int UniqueFd::Release()
{
    return std::exchange(m_fd, -1);
}

bool ParseProcStat(std::string_view text, ProcStat& stat)
{
    const size_t nameEnd = text.rfind(')');
    if (nameEnd == std::string_view::npos)
        return false;
    std::string_view rest = text.substr(nameEnd + 1);
    int field = kFirstField;
    int found = 0;
    stat.childrenTicks = 0;
    while (field <= kStartTimeField) {
        const size_t begin = rest.find_first_not_of(" \n");
        if (begin == std::string_view::npos)
            return false;
        rest.remove_prefix(begin);
        const std::string_view token = rest.substr(0, rest.find_first_of(" \n"));
        rest.remove_prefix(token.size());
        std::uint64_t number = 0;
        switch (field) {
        case kStateField:
            stat.state = token.empty() ? 0 : token[0];
            ++found;
            break;
        case kParentField:
            found += ParseNumber(token, number) && (stat.parentPid = static_cast<int>(number), true);
            break;
        case kGroupField:
            found += ParseNumber(token, number) && (stat.processGroup = static_cast<int>(number), true);
            break;
        case kSessionField:
            found += ParseNumber(token, number) && (stat.session = static_cast<int>(number), true);
            break;
        case kFlagsField:
            if (ParseNumber(token, number))
                stat.flags = number;
            break;
        case kChildrenUserField:
        case kChildrenSystemField:
            if (ParseNumber(token, number))
                stat.childrenTicks += number;
            break;
        case kNumThreadsField:
            if (ParseNumber(token, number)) {
                stat.numThreads = static_cast<long>(number);
                ++found;
            }
            break;
        case kStartTimeField:
            found += ParseNumber(token, stat.startTicks);
            break;
        default:
            break;
        }
        ++field;
    }
    return found == 6;
}

bool ParseSchedstatRuntimeNs(std::string_view text, std::uint64_t& ns)
{
    return ParseNumber(text.substr(0, text.find(' ')), ns);
}

bool ParseSchedstat(std::string_view text, std::uint64_t& runNs, std::uint64_t& waitNs)
{
    const std::size_t second = text.find(' ') + 1;
    return ParseSchedstatRuntimeNs(text, runNs) && second != 0 &&
           ParseNumber(text.substr(second, text.find(' ', second) - second), waitNs);
}

bool ParseIdleTicks(std::string_view text, const cpu_set_t& processors, std::uint64_t& ticks)
{
    constexpr int kIdleField = 4, kIowaitField = 5;  // after "cpuN": user nice system idle iowait ...
    ticks = 0;
    std::istringstream lines{std::string(text)};
    for (std::string line; std::getline(lines, line);) {
        std::uint64_t cpu = 0;
        const std::string_view name = std::string_view(line).substr(0, line.find(' '));
        if (!name.starts_with("cpu") || !ParseNumber(name.substr(3), cpu) || cpu >= CPU_SETSIZE ||
            !CPU_ISSET(cpu, &processors))
            continue;  // the machine's total, or a processor it may not use
        std::istringstream fields(line);
        std::string field;
        std::uint64_t value = 0;
        for (int i = 0; i <= kIowaitField; ++i) {
            if (!(fields >> field) || (i > 0 && !ParseNumber(field, value)))
                return false;
            if (i == kIdleField || i == kIowaitField)
                ticks += value;
        }
    }
    return true;
}

std::optional<std::uint64_t> ReadIdleNs(const cpu_set_t& processors)
{
    std::ifstream file("/proc/stat");
    std::stringstream text;
    text << file.rdbuf();
    std::uint64_t ticks = 0;
    const long perSecond = sysconf(_SC_CLK_TCK);
    if (!file || perSecond <= 0 || !ParseIdleTicks(text.str(), processors, ticks))
        return std::nullopt;
    return ticks * (1'000'000'000 / static_cast<std::uint64_t>(perSecond));
}

ssize_t PreadText(int fd, char* buffer, std::size_t size)
{
    ssize_t length;
    do {
        length = pread(fd, buffer, size, 0);
    } while (length < 0 && errno == EINTR);
    return length;
}

bool ReadProcStat(int fd, ProcStat& stat)
{
    char buffer[1024];
    const ssize_t length = PreadText(fd, buffer, sizeof buffer);
    return length > 0 && ParseProcStat(std::string_view(buffer, static_cast<size_t>(length)), stat);
}

bool ReadPidStat(pid_t pid, ProcStat& stat, const std::string& procRoot)
{
    const std::string path = procRoot + "/" + std::to_string(pid) + "/stat";
    const UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    return fd.IsOpen() && ReadProcStat(fd.Get(), stat);
}
