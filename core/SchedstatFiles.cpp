#include "SchedstatFiles.h"

#include <fcntl.h>

void SchedstatFiles::NextRound()
{
    std::erase_if(m_files, [this](const auto& file) { return file.second.round != m_round; });
    ++m_round;
}

bool SchedstatFiles::Read(int pid, int tid, Schedstat& figures)
{
    if (const auto file = m_files.find(tid); file != m_files.end()) {
        File& kept = file->second;
        if (kept.round == m_round || ReadOnce(kept.fd.Get(), kept.figures)) {
            kept.round = m_round;
            figures = kept.figures;
            return true;
        }
        // A thread that is gone answers ESRCH; its id may be another
        // thread's now, whose file is opened below.
        m_files.erase(file);
    }
    const std::string path = m_procRoot + "/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/schedstat";
    UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!fd.IsOpen() || !ReadOnce(fd.Get(), figures))
        return false;
    if (m_files.size() < KEPT_FILES)
        m_files.emplace(tid, File{std::move(fd), m_round, figures});
    return true;
}

bool SchedstatFiles::Read(int pid, int tid, std::uint64_t& runDelayNs)
{
    Schedstat figures;
    if (!Read(pid, tid, figures))
        return false;
    runDelayNs = figures.runDelayNs;
    return true;
}

bool SchedstatFiles::ReadOnce(int fd, Schedstat& figures)
{
    char buffer[128];
    const ssize_t length = PreadText(fd, buffer, sizeof buffer);
    return length > 0 && ParseSchedstat(std::string_view(buffer, static_cast<std::size_t>(length)), figures.onCpuNs,
                                        figures.runDelayNs);
}
