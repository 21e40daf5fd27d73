#include "Resources.h"

const VersionInfo& AfxGetVersionInfo()
{
    static const VersionInfo version = {"Quorvex", "1.0", "1.0", "Quorvex.exe", "Quorvex.exe"};
    return version;
}
