#include "Module.h"

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
