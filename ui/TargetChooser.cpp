// The target chooser: the only way to name the program to measure in dialog
// mode.

#include "FileDialog.h"
#include "Module.h"
#include "QuorvexDlg.h"

#include <cstring>
#include <memory>

namespace {

constexpr DWORD FILE_NAME_CAPACITY = 2048;

// Measuring this program would make the target and the measuring process
// share their instance name. It is refused under its Windows name and under
// the name it runs with here.
bool IsThisProgram(const CString& title)
{
    if (std::strcmp(title, "Quorvex") == 0)
        return true;
    char path[FILE_NAME_CAPACITY];
    return GetModuleFileNameA(GetModuleHandleA(nullptr), path, sizeof path) > 0 && title == FileTitleOf(path);
}

} // namespace

void CQuorvexDlg::OnBnClickedGetAppName()
{
    CFileDialog fileDlg(TRUE, nullptr, nullptr, OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_FILEMUSTEXIST,
                        "Application (*.exe)|*.exe||", this);
    fileDlg.m_ofn.lpstrTitle = "Application File Browser";
    const auto fileName = std::make_unique<char[]>(FILE_NAME_CAPACITY);
    fileName[0] = '\0';
    fileDlg.m_ofn.lpstrFile = fileName.get();
    fileDlg.m_ofn.nMaxFile = FILE_NAME_CAPACITY;
    if (fileDlg.DoModal() != IDOK)
        return;

    const CString title = fileDlg.GetFileTitle();
    if (IsThisProgram(title)) {
        MessageBox("Cannot choose itself to run", "Error", MB_OK);
        return;
    }
    std::strncpy(m_szProcessName, title, sizeof m_szProcessName - 1);
    m_strAppPath = fileDlg.GetPathName();
    m_editAppPath.SetWindowText(m_strAppPath);
}
