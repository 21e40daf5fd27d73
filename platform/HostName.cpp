#include "HostName.h"

#include <sys/utsname.h>

std::string NodeName()
{
    utsname names{};
    uname(&names);
    return names.nodename;
}
