#include "Outputs.h"

#include "Reports.h"
#include "Text.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

constexpr const char* STANDARD_OUTPUT = "-";

std::string Folder(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseName(const std::string& path)
{
    return path.substr(path.rfind('/') + 1);
}

// What names one file: its device and inode when it exists, else its
// folder's real path and its name.
std::string Identity(const std::string& path)
{
    struct stat info;
    if (path == STANDARD_OUTPUT ? fstat(STDOUT_FILENO, &info) == 0 : stat(path.c_str(), &info) == 0)
        return std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    char* real = realpath(Folder(path).c_str(), nullptr);
    const std::string identity = (real ? std::string(real) : Folder(path)) + "/" + BaseName(path);
    std::free(real);
    return identity;
}

// Written in place: what is not a regular file (a FIFO, a terminal, /dev/null).
bool WrittenDirectly(const std::string& path)
{
    struct stat info;
    return path == STANDARD_OUTPUT || (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode));
}

// 0 when path can be written as an output, else the reason's errno.
int CannotWrite(const std::string& path)
{
    struct stat info;
    if (path == STANDARD_OUTPUT)
        return 0;
    if (stat(path.c_str(), &info) == 0) {
        if (S_ISDIR(info.st_mode))
            return EISDIR;
        if (access(path.c_str(), W_OK) != 0)
            return errno;
        if (!S_ISREG(info.st_mode))
            return 0;
    } else if (errno != ENOENT) {
        return errno;
    }
    return access(Folder(path).c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

// All of text to fd; 0 or the errno.
int WriteAll(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno != EINTR)
            return errno;
        done += wrote > 0 ? static_cast<std::size_t>(wrote) : 0;
    }
    return 0;
}

int WriteDirectly(const std::string& path, const std::string& text)
{
    if (path == STANDARD_OUTPUT)
        return WriteAll(STDOUT_FILENO, text);
    const int fd = open(path.c_str(), O_WRONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return errno;
    const int error = WriteAll(fd, text);
    return close(fd) != 0 && error == 0 ? errno : error;
}

// Beside path under a name of its own, then renamed over it: a reader
// sees the old file or the new one whole, never a part.
int WriteReplacing(const std::string& path, const std::string& text)
{
    static unsigned serial = 0;
    const std::string temporary =
        Folder(path) + "/." + BaseName(path) + "." + std::to_string(getpid()) + "." + std::to_string(++serial);
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return errno;
    struct stat old;
    if (stat(path.c_str(), &old) == 0)
        fchmod(fd, old.st_mode & 07777);  // a replaced file keeps its permissions
    int error = WriteAll(fd, text);
    if (close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && rename(temporary.c_str(), path.c_str()) != 0)
        error = errno;
    if (error != 0)
        unlink(temporary.c_str());
    return error;
}

bool AllUtf8(const RunFacts& facts, const Profile& profile)
{
    for (const std::string& word : facts.command)
        if (ValidUtf8(word) != word)
            return false;
    for (const ThreadProfile& thread : profile.threads)
        if (ValidUtf8(thread.name) != thread.name)
            return false;
    return true;
}

std::string Csv(const Profile& profile, const Summary&, const RunFacts&)
{
    return CsvTimeline(profile);
}

std::string Trace(const Profile& profile, const Summary&, const RunFacts& facts)
{
    return TraceEvents(profile, facts);
}

} // namespace

bool OutputFiles::Check(const StatOptions& options, std::string& error)
{
    m_outputs = {{"-o", options.outputFile, TextReport},
                 {"--json", options.jsonFile, JsonReport},
                 {"--csv", options.csvFile, Csv},
                 {"--svg", options.svgFile, SvgTimeline},
                 {"--trace", options.traceFile, Trace}};
    for (std::size_t i = 0; i < m_outputs.size(); ++i) {
        const Output& output = m_outputs[i];
        if (output.path.empty())
            continue;
        for (std::size_t j = 0; j < i; ++j)
            if (!m_outputs[j].path.empty() && Identity(m_outputs[j].path) == Identity(output.path)) {
                error = m_outputs[j].option + " and " + output.option + " name the same file '" + output.path + "'";
                return false;
            }
        if (const int reason = CannotWrite(output.path)) {
            error = "cannot write '" + output.path + "': " + std::strerror(reason);
            return false;
        }
    }
    return true;
}

bool OutputFiles::Write(const Profile& profile, const RunFacts& facts) const
{
    const Summary summary = Summarize(profile, facts);
    bool written = true;
    for (const Output& output : m_outputs) {
        const std::string text = output.text(profile, summary, facts);
        if (output.path.empty()) {
            if (output.option == "-o")
                WriteAll(STDERR_FILENO, text);
            continue;
        }
        const int error =
            WrittenDirectly(output.path) ? WriteDirectly(output.path, text) : WriteReplacing(output.path, text);
        if (error != 0) {
            std::string line = "quorvex-stat: cannot write '" + output.path + "': " + std::strerror(error) + "\n";
            WriteAll(STDERR_FILENO, line);
            written = false;
        }
    }
    const bool strict = std::any_of(m_outputs.begin(), m_outputs.end(), [](const Output& output) {
        return !output.path.empty() && (output.text == JsonReport || output.text == SvgTimeline || output.text == Trace);
    });
    if (strict && !AllUtf8(facts, profile))
        WriteAll(STDERR_FILENO, "quorvex-stat: names that are not UTF-8 are written with U+FFFD in the JSON, SVG and trace\n");
    return written;
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

void HoldStandardDescriptors()
{
    for (int fd = 0; fd <= 2; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) {
            const int held = open("/dev/null", O_RDWR | O_CLOEXEC);
            if (held >= 0 && held != fd) {
                dup3(held, fd, O_CLOEXEC);
                close(held);
            }
        }
}
