#include "RecordsAccess.h"

#include "MachineFiles.h"
#include "SwitchRecords.h"
#include "Text.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sstream>

namespace {

constexpr int CAP_SYS_ADMIN_BIT = 21;
constexpr int CAP_PERFMON_BIT = 38;

// A field of /proc/self/status, such as "Seccomp" or "CapEff".
std::string StatusField(const std::string& procRoot, const std::string& name)
{
    std::istringstream lines(ReadMachineFile(procRoot, "self/status").value_or(""));
    for (std::string line; std::getline(lines, line);)
        if (line.starts_with(name + ":"))
            return line.substr(line.find_first_not_of(" \t", name.size() + 1));
    return {};
}

bool HasPerfmon(const std::string& procRoot)
{
    const unsigned long long effective = std::strtoull(StatusField(procRoot, "CapEff").c_str(), nullptr, 16);
    return (effective >> CAP_PERFMON_BIT & 1) || (effective >> CAP_SYS_ADMIN_BIT & 1);
}

std::string Sampled(int intervalMs)
{
    std::string text;
    Appendf(text, "sampling /proc every %d ms instead (CPU times exact, concurrency sampled)", intervalMs);
    return text;
}

bool Refused(int error)
{
    return error == EACCES || error == EPERM;
}

// What refused the records, in one clause.
std::string Why(const RecordsAccess& access)
{
    const std::string level = "kernel.perf_event_paranoid is " + std::to_string(access.paranoid);
    if (access.forced)
        return "QUORVEX_THREAD_STATES=proc asks for /proc";
    if (access.error == 0)
        return "context-switch records allowed: " + level +
               (access.perfmon              ? ", and CAP_PERFMON in effect"
                : access.paranoid > 2 ? " (this kernel does not refuse them at levels above 2)"
                                      : "");
    if (access.seccomp)
        return std::string("a seccomp filter (a container's, most likely) refuses perf_event_open: ") +
               std::strerror(access.error);
    if (Refused(access.error) && access.paranoid > 2)
        return level + ": the kernel refuses context-switch records to unprivileged users";
    return std::string("the kernel refuses context-switch records: ") + std::strerror(access.error);
}

// What would allow them, and what that allows besides.
std::string Remedy(const RecordsAccess& access)
{
    if (access.seccomp)
        return "allow perf_event_open in the container's seccomp profile (docker, podman: "
               "--security-opt seccomp=PROFILE), with kernel.perf_event_paranoid at 2 or less on the host";
    if (Refused(access.error) && access.paranoid > 2)
        return "as root, 'sysctl kernel.perf_event_paranoid=2' (until reboot; a file in /etc/sysctl.d/ keeps it) "
               "lets every user record their own processes, not the kernel's or other users'; or "
               "'setcap cap_perfmon=ep quorvex-stat' lets whoever runs it observe every process";
    return "run quorvex-stat with CAP_PERFMON (it may then observe every process), or on a kernel with perf events";
}

} // namespace

RecordsAccess ProbeRecordsAccess(const std::string& procRoot)
{
    RecordsAccess access;
    access.paranoid = std::atoi(ReadMachineLine(procRoot, "sys/kernel/perf_event_paranoid").value_or("0").c_str());
    access.seccomp = StatusField(procRoot, "Seccomp") == "2";
    access.perfmon = HasPerfmon(procRoot);
    const char* forced = std::getenv("QUORVEX_THREAD_STATES");
    access.forced = forced && std::strcmp(forced, "proc") == 0;
    access.error = ProbeSwitchRecords();
    // Without a filter, ENOSYS is the kernel's own answer.
    access.seccomp = access.seccomp && access.error != 0;
    return access;
}

std::optional<std::string> StoppedExecs::See(const SwitchRecord& record)
{
    if (record.kind == RecordKind::Exec)
        m_unmapped[record.pid] = record.name;
    else if (record.kind == RecordKind::Mapped)
        m_unmapped.erase(record.pid);
    const auto unmapped = m_unmapped.find(record.pid);
    if (record.kind != RecordKind::Exit || record.tid != record.pid || unmapped == m_unmapped.end())
        return std::nullopt;
    std::string name = std::move(unmapped->second);
    m_unmapped.erase(unmapped);
    return name;
}

std::string RefusalText(const RecordsAccess& access, int intervalMs)
{
    std::string text = "quorvex-stat: " + Why(access) + "; " + Sampled(intervalMs) + "\n";
    if (!access.forced)
        text += "quorvex-stat: for exact figures: " + Remedy(access) + "\n";
    return text;
}

std::string SetUidText(const std::string& program, int intervalMs)
{
    return "quorvex-stat: the kernel stopped the context-switch records at the exec of " + program +
           " (set-user-ID or unreadable); from there on " + Sampled(intervalMs) + "\n" +
           "quorvex-stat: for exact figures, run the command as the user it runs as\n";
}

std::string CheckText(const RecordsAccess& access, int intervalMs, bool& exact)
{
    exact = access.error == 0 && !access.forced;
    if (exact)
        return "source: context-switch records (exact)\nwhy: " + Why(access) + "\n";
    std::string text;
    Appendf(text, "source: /proc sampled every %d ms (CPU times exact, concurrency sampled)\n", intervalMs);
    text += "why: " + Why(access) + "\n";
    if (!access.forced)
        text += "for exact figures: " + Remedy(access) + "\n";
    return text;
}
