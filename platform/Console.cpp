#include "Console.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <unistd.h>

BOOL AllocConsole()
{
    if (fcntl(STDOUT_FILENO, F_GETFD) != -1)
        return TRUE;
    const int tty = open("/dev/tty", O_WRONLY | O_CLOEXEC);
    if (tty < 0)
        return FALSE;
    const BOOL bound = dup2(tty, STDOUT_FILENO) == STDOUT_FILENO;
    close(tty);
    return bound;
}

void ExitProcess(UINT exitCode)
{
    std::exit(static_cast<int>(exitCode));
}

void WaitForEnter()
{
    if (!isatty(STDIN_FILENO))
        return;
    int c;
    while ((c = std::getchar()) != EOF && c != '\n') {
    }
}
