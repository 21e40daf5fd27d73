#include "SchedstatFiles.h"

#include <charconv>
#include <fcntl.h>

bool ParseSchedstatRunDelayNs(std::string_view text, std::uint64_t& ns)
{
    const std::size_t first = text.find(' ');
    if (first == std::string_view::npos)
        return false;
    const std::string_view field = text.substr(first + 1, text.find_first_of(" \n", first + 1) - first - 1);
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), ns);
    return error == std::errc() && end == field.data() + field.size() && !field.empty();
}

bool SchedstatFiles::Read(int pid, int tid, std::uint64_t& runDelayNs)
{
    auto file = m_files.find(tid);
    if (file == m_files.end()) {
        const std::string path =
            m_procRoot + "/" + std::to_string(pid) + "/task/" + std::to_string(tid) + "/schedstat";
        UniqueFd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (!fd.IsOpen())
            return false;
        if (m_files.size() >= KEPT_FILES)
            return ReadOnce(fd.Get(), runDelayNs);
        file = m_files.emplace(tid, std::move(fd)).first;
    }
    // A thread that is gone answers ESRCH; its id may come back as another thread's.
    if (!ReadOnce(file->second.Get(), runDelayNs)) {
        m_files.erase(file);
        return false;
    }
    return true;
}

bool SchedstatFiles::ReadOnce(int fd, std::uint64_t& runDelayNs)
{
    char buffer[128];
    const ssize_t length = PreadText(fd, buffer, sizeof buffer);
    return length > 0 && ParseSchedstatRunDelayNs(std::string_view(buffer, static_cast<std::size_t>(length)), runDelayNs);
}
