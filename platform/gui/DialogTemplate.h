#pragma once
// Dialog templates as data: the window and its controls, laid out in dialog
// units, which scale with the dialog font (see DialogUnits.h).

#include "WinTypes.h"

#include <span>

constexpr int IDC_STATIC = -1;

enum class ControlKind {
    PushButton,
    DefPushButton,
    PushLikeCheckBox,  // a check box drawn as a button that stays pressed
    Edit,
    Static,
    IconStatic,        // shows the icon resource named by the control's text
    DropDownList,      // a non-editable combo box
    GroupBox,
};

// Style flags of a control.
enum : unsigned {
    CS_HIDDEN = 1u << 0,
    CS_READONLY = 1u << 1,
    CS_CENTER = 1u << 2,     // text centred horizontally
    CS_VCENTER = 1u << 3,    // text centred vertically
    CS_RAISED = 1u << 4,     // raised frame (dialog modal frame)
    CS_SUNKEN = 1u << 5,     // sunken frame (static edge)
    CS_SORTED = 1u << 6,     // list keeps its items in text order
    CS_VSCROLL = 1u << 7,
    CS_NOPREFIX = 1u << 8,   // '&' is shown, not taken as a mnemonic
    CS_MULTILINE = 1u << 9,
};

struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, cx, cy;
    unsigned styles;
};

struct DialogTemplate {
    UINT id;
    const char* caption;
    int cx, cy;
    const char* fontFace;
    int pointSize;
    std::span<const ControlTemplate> controls;
};
