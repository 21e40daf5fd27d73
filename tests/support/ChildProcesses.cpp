#include "ChildProcesses.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

namespace {

struct Child {
    int pid;
    unsigned long long startTicks;
};

std::vector<Child> Children()
{
    std::vector<Child> children;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator("/proc", error)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos)
            continue;
        std::ifstream stat(entry.path() / "stat");
        std::string line;
        std::getline(stat, line);
        const size_t nameEnd = line.rfind(')');
        if (nameEnd == std::string::npos)
            continue;
        // After the name: state, parent, then 17 more fields up to the start time.
        std::istringstream fields(line.substr(nameEnd + 2));
        char state;
        int parent = 0;
        fields >> state >> parent;
        std::string skipped;
        for (int i = 0; i < 17; ++i)
            fields >> skipped;
        unsigned long long startTicks = 0;
        fields >> startTicks;
        if (parent == getpid())
            children.push_back({std::stoi(name), startTicks});
    }
    return children;
}

} // namespace

std::vector<int> ChildProcesses()
{
    std::vector<int> pids;
    for (const Child& child : Children())
        pids.push_back(child.pid);
    return pids;
}

int OpenPidfds()
{
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code error;
        if (std::filesystem::read_symlink(entry.path(), error).string() == "anon_inode:[pidfd]")
            ++count;
    }
    return count;
}

int OpenDescriptors()
{
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

ChildStarts::ChildStarts() : m_thread([this] { Watch(); }) {}

ChildStarts::~ChildStarts()
{
    m_stop = true;
    m_thread.join();
}

int ChildStarts::Count()
{
    std::lock_guard lock(m_mutex);
    return static_cast<int>(m_seen.size());
}

void ChildStarts::Watch()
{
    while (!m_stop) {
        for (const Child& child : Children()) {
            // A target's guard is a copy of this program that never execs;
            // a zombie shows no program, and was seen alive before.
            std::error_code noExe;
            const auto exe = std::filesystem::read_symlink("/proc/" + std::to_string(child.pid) + "/exe", noExe);
            if (exe.empty() || exe == std::filesystem::read_symlink("/proc/self/exe", noExe))
                continue;
            std::lock_guard lock(m_mutex);
            m_seen.insert({child.pid, child.startTicks});
        }
        usleep(5000);
    }
}
