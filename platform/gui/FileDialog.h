#pragma once
// The common open-file dialog.

#include "CString.h"
#include "Wnd.h"

#include <array>

constexpr DWORD OFN_HIDEREADONLY = 0x00000004;   // no read-only check box (there never is one here)
constexpr DWORD OFN_NOCHANGEDIR = 0x00000008;    // keep the current folder
constexpr DWORD OFN_PATHMUSTEXIST = 0x00000800;
constexpr DWORD OFN_FILEMUSTEXIST = 0x00001000;

struct OPENFILENAME {
    DWORD Flags = 0;
    LPSTR lpstrFile = nullptr;   // in: the initial file name; out: the chosen path
    DWORD nMaxFile = 0;          // capacity of lpstrFile, terminating zero included
    LPCSTR lpstrTitle = nullptr;
};

// A file's title: its name without the folder and without a trailing ".exe".
// Linux programs carry no extension, so nothing else is taken for one.
CString FileTitleOf(const char* path);

class CFileDialog {
public:
    // lpszFilter lists "name|patterns|" pairs and ends with a further "|";
    // patterns are separated by ';'. The pattern "*.exe" stands for the
    // executable files.
    explicit CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt = nullptr, LPCSTR lpszFileName = nullptr,
                         DWORD dwFlags = OFN_HIDEREADONLY, LPCSTR lpszFilter = nullptr, CWnd* pParentWnd = nullptr);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;

    // IDOK with the chosen path in m_ofn.lpstrFile; IDCANCEL when the user
    // cancelled, when the path does not fit the buffer or when no window can
    // be shown. Unless OFN_NOCHANGEDIR is set, a choice makes the file's
    // folder the current folder.
    INT_PTR DoModal();

    CString GetPathName() const;
    CString GetFileTitle() const;

    OPENFILENAME m_ofn;

private:
    BOOL m_bOpenFileDialog;
    CString m_strDefExt;
    CString m_strFilter;
    CWnd* m_pParentWnd;
    std::array<char, 4096> m_szFileName{};
};
