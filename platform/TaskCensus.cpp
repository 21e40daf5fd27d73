#include "TaskCensus.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

namespace {

// Reads a small /proc file relative to an open directory; false when the
// thread vanished meanwhile.
bool ReadSmallFile(int dirFd, const char* name, char (&buffer)[512])
{
    const int fd = openat(dirFd, name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = read(fd, buffer, sizeof buffer - 1);
    close(fd);
    if (n <= 0)
        return false;
    buffer[n] = '\0';
    return true;
}

// The state letter follows the command name, which may itself hold blanks
// and parentheses; only the last ')' ends it.
char StateLetter(const char* stat)
{
    const char* end = std::strrchr(stat, ')');
    return end && end[1] == ' ' ? end[2] : '\0';
}

bool ReadTask(int taskDirFd, const char* name, TaskReading& task)
{
    const int dirFd = openat(taskDirFd, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    char stat[512];
    char schedstat[512] = "0";  // absent from kernels without scheduler statistics
    const char state = ReadSmallFile(dirFd, "stat", stat) ? StateLetter(stat) : '\0';
    ReadSmallFile(dirFd, "schedstat", schedstat);
    close(dirFd);
    if (state == '\0' || state == 'Z' || state == 'X')
        return false;
    task.tid = std::atoi(name);
    task.running = state == 'R';
    task.cpuNs = std::strtoull(schedstat, nullptr, 10);
    return true;
}

} // namespace

std::vector<TaskReading> ReadTaskCensus(const std::string& procRoot, int pid)
{
    std::vector<TaskReading> tasks;
    const std::string taskDir = procRoot + "/" + std::to_string(pid) + "/task";
    const std::unique_ptr<DIR, int (*)(DIR*)> dir(opendir(taskDir.c_str()), closedir);
    if (!dir)
        return tasks;
    while (const dirent* entry = readdir(dir.get())) {
        TaskReading task;
        if (entry->d_name[0] >= '1' && entry->d_name[0] <= '9' && ReadTask(dirfd(dir.get()), entry->d_name, task))
            tasks.push_back(task);
    }
    std::sort(tasks.begin(), tasks.end(), [](const TaskReading& a, const TaskReading& b) { return a.tid < b.tid; });
    return tasks;
}
