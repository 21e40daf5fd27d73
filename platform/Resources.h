#pragma once
// The program's resources. The framework looks them up by id; the program
// defines them (res/).

#include "DialogTemplate.h"

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
