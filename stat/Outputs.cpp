#include "Outputs.h"

#include "Reports.h"

#include <cerrno>
#include <cstring>
#include <sys/wait.h>

namespace {

void Put(std::FILE* file, const std::string& text)
{
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
}

} // namespace

bool OutputFiles::Open(const StatOptions& options, std::FILE* reportDefault, std::string& error)
{
    const auto create = [&error](const std::string& path, File& file) {
        if (path.empty())
            return true;
        file.reset(std::fopen(path.c_str(), "we"));  // not inherited by the command
        if (!file)
            error = "cannot write '" + path + "': " + std::strerror(errno);
        return file != nullptr;
    };
    if (!create(options.outputFile, m_reportFile) || !create(options.jsonFile, m_json) ||
        !create(options.csvFile, m_csv) || !create(options.svgFile, m_svg))
        return false;
    if (!create(options.traceFile, m_trace))
        return false;
    m_report = m_reportFile ? m_reportFile.get() : reportDefault;
    return true;
}

void OutputFiles::Write(const Profile& profile, const RunFacts& facts) const
{
    const Summary summary = Summarize(profile, facts);
    Put(m_report, TextReport(profile, summary, facts));
    if (m_json)
        Put(m_json.get(), JsonReport(profile, summary, facts));
    if (m_csv)
        Put(m_csv.get(), CsvTimeline(profile));
    if (m_svg)
        Put(m_svg.get(), SvgTimeline(profile, summary, facts));
    if (m_trace)
        Put(m_trace.get(), TraceEvents(profile, facts));
}

int ShellStatus(int waitStatus, int& signal)
{
    signal = WIFSIGNALED(waitStatus) ? WTERMSIG(waitStatus) : 0;
    return signal ? 128 + signal : WEXITSTATUS(waitStatus);
}

StartFailure DescribeStartFailure(const std::string& name, int error)
{
    if (error == 0)
        return {EXIT_NOT_FOUND, "quorvex-stat: " + name + ": command not found"};
    return {error == ENOENT ? EXIT_NOT_FOUND : EXIT_CANNOT_EXECUTE,
            "quorvex-stat: " + name + ": " + std::strerror(error)};
}
