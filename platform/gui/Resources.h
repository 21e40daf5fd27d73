#pragma once
// The program's resources. The framework looks them up by id; the program
// defines them (res/).

#include "DialogTemplate.h"

#include <span>

// Null for an unknown id.
const DialogTemplate* AfxFindDialogTemplate(UINT id);
// The text of a string resource; empty for an unknown id.
const char* AfxLoadString(UINT id);

// Icons are named by their resource id: the handle is the id, and the images
// are looked up when the icon is drawn.
inline HICON AfxLoadIcon(UINT nIDResource)
{
    return nIDResource;
}

struct IconImage {
    int size;                 // width and height in pixels
    const char* const* xpm;   // the image in XPM form
};
// The images of an icon, largest first; empty for an unknown icon.
std::span<const IconImage> AfxFindIconImages(HICON icon);

// The program's version block.
struct VersionInfo {
    const char* fileDescription;
    const char* fileVersion;
    const char* productVersion;
    const char* internalName;
    const char* originalFilename;
};
const VersionInfo& AfxGetVersionInfo();
