#include "CaptureOutput.h"

#include <cstdio>
#include <unistd.h>

namespace {

std::string Capture(FILE* stream, const std::function<void()>& body)
{
    const int fd = fileno(stream);
    std::fflush(stream);
    FILE* sink = std::tmpfile();
    const int saved = dup(fd);
    dup2(fileno(sink), fd);
    body();
    std::fflush(stream);
    dup2(saved, fd);
    close(saved);
    std::string text;
    std::rewind(sink);
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, sink)) > 0)
        text.append(buffer, n);
    std::fclose(sink);
    return text;
}

} // namespace

std::string CaptureStdout(const std::function<void()>& body)
{
    return Capture(stdout, body);
}

std::string CaptureStderr(const std::function<void()>& body)
{
    return Capture(stderr, body);
}
