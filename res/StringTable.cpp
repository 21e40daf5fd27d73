#include "Resource.h"
#include "Resources.h"

const char* AfxLoadString(UINT id)
{
    switch (id) {
    case IDS_ABOUTBOX:
        return "&About Quorvex...";
    case IDP_SOCKETS_INIT_FAILED:
        return "Windows sockets initialization failed.";
    default:
        return "";
    }
}
