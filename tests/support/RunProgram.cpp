#include "RunProgram.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

namespace {

// The test's environment with the options' changes.
std::vector<std::string> Environment(const ProgramOptions& options)
{
    std::vector<std::string> env;
    for (char** entry = environ; *entry; ++entry) {
        const std::string variable = *entry;
        if (!options.env.count(variable.substr(0, variable.find('='))))
            env.push_back(variable);
    }
    for (const auto& [name, value] : options.env) {
        if (value)
            env.push_back(name + "=" + *value);
    }
    return env;
}

std::vector<char*> Pointers(const std::vector<std::string>& strings)
{
    std::vector<char*> pointers;
    for (const std::string& s : strings)
        pointers.push_back(const_cast<char*>(s.c_str()));
    pointers.push_back(nullptr);
    return pointers;
}

// Only async-signal-safe calls after the fork.
[[noreturn]] void ExecChild(char* const* argv, char* const* envp, const ProgramOptions& options, int in, int out,
                            int err)
{
    if (options.newSession)
        setsid();
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    dup2(err, STDERR_FILENO);
    if (options.closeStdout)
        close(STDOUT_FILENO);
    if (!options.workingDirectory.empty() && chdir(options.workingDirectory.c_str()) != 0)
        _exit(126);
    execve(argv[0], argv, envp);
    _exit(127);
}

double Now()
{
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// Feeds the input and drains both outputs until the child closes them.
void Exchange(int in, int out, int err, const std::string& input, ProgramResult& result, pid_t child,
              int timeoutSeconds)
{
    size_t written = 0;
    if (input.empty()) {
        close(in);
        in = -1;
    }
    const double deadline = Now() + timeoutSeconds;
    while (out >= 0 || err >= 0) {
        pollfd fds[3] = {{out, POLLIN, 0}, {err, POLLIN, 0}, {in, POLLOUT, 0}};
        const int remaining = static_cast<int>((deadline - Now()) * 1000);
        if (remaining <= 0) {
            result.timedOut = true;
            kill(child, SIGKILL);
            break;
        }
        if (poll(fds, 3, remaining) < 0 && errno != EINTR)
            break;
        char buffer[65536];
        for (int i = 0; i < 2; ++i) {
            int& fd = i == 0 ? out : err;
            if (fd < 0 || !(fds[i].revents & (POLLIN | POLLHUP)))
                continue;
            const ssize_t n = read(fd, buffer, sizeof buffer);
            if (n > 0) {
                (i == 0 ? result.out : result.err).append(buffer, static_cast<size_t>(n));
            } else {
                close(fd);
                fd = -1;
            }
        }
        if (in >= 0 && (fds[2].revents & (POLLOUT | POLLERR))) {
            const ssize_t n = write(in, input.data() + written, input.size() - written);
            written += n > 0 ? static_cast<size_t>(n) : input.size();
            if (written >= input.size()) {
                close(in);
                in = -1;
            }
        }
    }
    for (int fd : {in, out, err}) {
        if (fd >= 0)
            close(fd);
    }
}

} // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const ProgramOptions& options)
{
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0)
        return {};
    signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    const std::vector<std::string> envStrings = Environment(options);
    const std::vector<char*> argv = Pointers(argStrings);
    const std::vector<char*> envp = Pointers(envStrings);
    const pid_t child = fork();
    if (child == 0)
        ExecChild(argv.data(), envp.data(), options, in[0], out[1], err[1]);
    close(in[0]);
    close(out[1]);
    close(err[1]);
    ProgramResult result;
    Exchange(in[1], out[0], err[0], options.input, result, child, options.timeoutSeconds);
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}
