#include "HeldChild.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Only async-signal-safe calls after the fork.
[[noreturn]] void RunChild(char* const* argv, const HeldChildOptions& options, const int (&release)[2],
                           const int (&execError)[2])
{
    close(release[1]);
    close(execError[0]);
    char go;
    while (read(release[0], &go, 1) < 0) {
    }
    const int null = open("/dev/null", O_WRONLY);
    dup2(options.outputFd >= 0 ? options.outputFd : null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (options.uid == 0 || (setgroups(0, nullptr) == 0 && setgid(options.uid) == 0 && setuid(options.uid) == 0))
        execv(argv[0], argv);
    const int error = errno;
    [[maybe_unused]] const ssize_t n = write(execError[1], &error, sizeof error);
    _exit(127);
}

} // namespace

HeldChild::HeldChild(const std::vector<std::string>& argv, const HeldChildOptions& options)
{
    std::vector<char*> args;
    for (const std::string& arg : argv)
        args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    int release[2];
    int execError[2];
    if (pipe2(release, O_CLOEXEC) != 0)
        return;
    if (pipe2(execError, O_CLOEXEC) != 0) {
        close(release[0]);
        close(release[1]);
        return;
    }
    m_pid = fork();
    if (m_pid == 0)
        RunChild(args.data(), options, release, execError);
    close(release[0]);
    close(execError[1]);
    m_release = release[1];
    m_execError = execError[0];
    if (m_pid < 0) {
        close(m_release);
        close(m_execError);
        m_release = m_execError = -1;
    }
}

HeldChild::~HeldChild()
{
    if (m_release >= 0)
        close(m_release);
    if (m_execError >= 0)
        close(m_execError);
    if (m_pid > 0 && !m_reaped) {
        kill(m_pid, SIGKILL);
        waitpid(m_pid, nullptr, 0);
    }
}

bool HeldChild::Release()
{
    if (m_release < 0)
        return false;
    close(m_release);
    m_release = -1;
    int error = 0;
    const ssize_t n = read(m_execError, &error, sizeof error);
    close(m_execError);
    m_execError = -1;
    if (n > 0)
        Wait();
    return n == 0;
}

int HeldChild::Wait()
{
    if (m_pid <= 0 || m_reaped)
        return -1;
    int status = 0;
    while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
    }
    m_reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
