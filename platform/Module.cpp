#include "Module.h"

#include <climits>
#include <cstring>
#include <unistd.h>

HMODULE GetModuleHandleA(const char* moduleName)
{
    static int self;
    return moduleName ? nullptr : &self;
}

DWORD GetModuleFileNameA(HMODULE module, char* fileName, DWORD size)
{
    if (module != GetModuleHandleA(nullptr) || size == 0)
        return 0;
    const ssize_t length = readlink("/proc/self/exe", fileName, size - 1);
    if (length < 0) {
        fileName[0] = '\0';
        return 0;
    }
    fileName[length] = '\0';
    return static_cast<DWORD>(length);
}

DWORD GetCurrentDirectoryA(DWORD size, char* buffer)
{
    if (size == 0)
        return 0;
    if (!getcwd(buffer, size)) {
        buffer[0] = '\0';
        return 0;
    }
    return static_cast<DWORD>(std::strlen(buffer));
}

std::string ProgramFolder()
{
    char path[PATH_MAX];
    const DWORD length = GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path);
    const std::string program(path, length);
    const size_t slash = program.rfind('/');
    return slash == std::string::npos ? "./" : program.substr(0, slash + 1);
}
