#include "ChildProcesses.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>

std::vector<int> ChildProcesses()
{
    std::vector<int> pids;
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
        // After the name: state, then parent.
        std::istringstream fields(line.substr(nameEnd + 2));
        char state;
        int parent = 0;
        if (fields >> state >> parent && parent == getpid())
            pids.push_back(std::stoi(name));
    }
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
