#pragma once
// Menus as lists of items. A dialog's system menu is one of them: Linux
// window managers keep their window menu to themselves, so the dialog shows
// its system menu as its context menu, and a chosen item arrives as a
// system command.

#include "CString.h"
#include "WinTypes.h"

#include <vector>

constexpr UINT MF_STRING = 0x0000;
constexpr UINT MF_SEPARATOR = 0x0800;

class CMenu {
public:
    struct Item {
        UINT flags;
        UINT_PTR id;
        CString text;  // '&' marks the mnemonic
    };

    BOOL AppendMenu(UINT nFlags, UINT_PTR nIDNewItem = 0, LPCSTR lpszNewItem = nullptr)
    {
        m_items.push_back({nFlags, nIDNewItem, lpszNewItem});
        return TRUE;
    }
    const std::vector<Item>& Items() const { return m_items; }

private:
    std::vector<Item> m_items;
};
