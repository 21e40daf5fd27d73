#include "CaptureOutput.h"

#include <cstdio>
#include <unistd.h>

std::string CaptureStdout(const std::function<void()>& body)
{
    std::fflush(stdout);
    FILE* sink = std::tmpfile();
    const int saved = dup(STDOUT_FILENO);
    dup2(fileno(sink), STDOUT_FILENO);
    body();
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
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
