#include "RunProgram.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
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

// An unnamed file, not inherited by what the program itself starts.
FILE* ScratchFile(const std::string& text = {})
{
    FILE* file = std::tmpfile();
    fcntl(fileno(file), F_SETFD, FD_CLOEXEC);
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
    std::rewind(file);
    return file;
}

std::string Contents(FILE* file)
{
    std::rewind(file);
    std::string text;
    for (int c; (c = std::fgetc(file)) != EOF;)
        text += static_cast<char>(c);
    std::fclose(file);
    return text;
}

// The exit code; -1 for a program killed at the deadline.
int WaitForExit(pid_t child, int timeoutSeconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline)
            kill(child, SIGKILL);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const ProgramOptions& options)
{
    FILE* in = ScratchFile(options.input);
    FILE* out = ScratchFile();
    FILE* err = ScratchFile();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    int silentPipe[2] = {-1, -1};
    if (options.silentInputPipe)
        pipe2(silentPipe, O_CLOEXEC);
    posix_spawn_file_actions_adddup2(&actions, options.silentInputPipe ? silentPipe[0] : fileno(in), STDIN_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fileno(out), STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, fileno(err), STDERR_FILENO);
    if (options.closeStdout)
        posix_spawn_file_actions_addclose(&actions, STDOUT_FILENO);
    if (!options.workingDirectory.empty())
        posix_spawn_file_actions_addchdir_np(&actions, options.workingDirectory.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (options.newSession)
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID);

    std::vector<std::string> argStrings{program};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    const std::vector<std::string> envStrings = Environment(options);
    ProgramResult result;
    pid_t child = 0;
    if (posix_spawnp(&child, program.c_str(), &actions, &attributes, Pointers(argStrings).data(),
                    Pointers(envStrings).data()) == 0)
        result.exitCode = WaitForExit(child, options.timeoutSeconds);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    std::fclose(in);
    for (int end : silentPipe) {
        if (end >= 0)
            close(end);
    }
    result.out = Contents(out);
    result.err = Contents(err);
    return result;
}

double Number(const std::string& json, const std::string& key, std::size_t from)
{
    const std::size_t at = json.find("\"" + key + "\": ", from);
    return at == std::string::npos ? -1 : std::atof(json.c_str() + at + key.size() + 4);
}
