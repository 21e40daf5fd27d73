#include "FileDialog.h"

#include "GuiSession.h"
#include "Process.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QSortFilterProxyModel>

#include <cstring>

namespace {

struct FileFilter {
    QString name;
    QStringList patterns;
    bool executables;  // lists the executable files, whatever their names
};

QList<FileFilter> ParseFilter(const CString& filter)
{
    const QStringList parts = QString::fromLocal8Bit(filter.GetString()).split('|');
    QList<FileFilter> filters;
    for (qsizetype i = 0; i + 1 < parts.size() && !parts[i].isEmpty(); i += 2) {
        const QStringList patterns = parts[i + 1].split(';', Qt::SkipEmptyParts);
        filters.append({parts[i], patterns, patterns.contains("*.exe", Qt::CaseInsensitive)});
    }
    return filters;
}

// The dialog's form of a filter: the details after the name are hidden, so
// the user sees the name as the program gave it.
QString NameFilter(const FileFilter& filter)
{
    return filter.name + " (" + (filter.executables ? QString("*") : filter.patterns.join(' ')) + ")";
}

class ExecutableFilter : public QSortFilterProxyModel {
public:
    void SetActive(bool active)
    {
        m_active = active;
        invalidateFilter();
    }

protected:
    bool filterAcceptsRow(int row, const QModelIndex& parent) const override
    {
        const auto* files = qobject_cast<const QFileSystemModel*>(sourceModel());
        if (!m_active || !files)
            return true;
        const QFileInfo info = files->fileInfo(files->index(row, 0, parent));
        return info.isDir() || info.isExecutable();
    }

private:
    bool m_active = false;
};

} // namespace

// A program's title is its instance name, so that the chooser names the
// process the counters look for.
CString FileTitleOf(const char* path)
{
    return CString(InstanceName(path));
}

CFileDialog::CFileDialog(BOOL bOpenFileDialog, LPCSTR lpszDefExt, LPCSTR lpszFileName, DWORD dwFlags,
                         LPCSTR lpszFilter, CWnd* pParentWnd)
    : m_bOpenFileDialog(bOpenFileDialog), m_strDefExt(lpszDefExt), m_strFilter(lpszFilter), m_pParentWnd(pParentWnd)
{
    m_ofn.Flags = dwFlags;
    m_ofn.lpstrFile = m_szFileName.data();
    m_ofn.nMaxFile = static_cast<DWORD>(m_szFileName.size());
    if (lpszFileName)
        std::strncpy(m_szFileName.data(), lpszFileName, m_szFileName.size() - 1);
}

INT_PTR CFileDialog::DoModal()
{
    if (!m_ofn.lpstrFile || m_ofn.nMaxFile == 0 || !EnsureGuiSession())
        return IDCANCEL;
    QWidget* parent = m_pParentWnd ? m_pParentWnd->m_hWnd : QApplication::activeModalWidget();
    QFileDialog dialog(parent, QString::fromLocal8Bit(m_ofn.lpstrTitle ? m_ofn.lpstrTitle : ""));
    // The executable filter needs the toolkit's own dialog.
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(m_bOpenFileDialog ? QFileDialog::AcceptOpen : QFileDialog::AcceptSave);
    dialog.setFileMode((m_ofn.Flags & OFN_FILEMUSTEXIST) ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QString::fromLocal8Bit(m_strDefExt.GetString()));
    dialog.setDirectory(QDir::currentPath());

    auto* executables = new ExecutableFilter;
    dialog.setProxyModel(executables);
    const QList<FileFilter> filters = ParseFilter(m_strFilter);
    QStringList nameFilters;
    for (const FileFilter& filter : filters)
        nameFilters.append(NameFilter(filter));
    dialog.setNameFilters(nameFilters);
    QObject::connect(&dialog, &QFileDialog::filterSelected, executables, [&filters, executables](const QString& chosen) {
        for (const FileFilter& filter : filters) {
            if (NameFilter(filter) == chosen)
                executables->SetActive(filter.executables);
        }
    });
    executables->SetActive(!filters.isEmpty() && filters.front().executables);
    if (m_ofn.lpstrFile[0] != '\0')
        dialog.selectFile(QString::fromLocal8Bit(m_ofn.lpstrFile));

    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return IDCANCEL;
    const QByteArray path = dialog.selectedFiles().front().toLocal8Bit();
    if (static_cast<DWORD>(path.size()) >= m_ofn.nMaxFile)
        return IDCANCEL;
    std::memcpy(m_ofn.lpstrFile, path.constData(), static_cast<size_t>(path.size()) + 1);
    if (!(m_ofn.Flags & OFN_NOCHANGEDIR))
        QDir::setCurrent(QFileInfo(QString::fromLocal8Bit(path)).absolutePath());
    return IDOK;
}

CString CFileDialog::GetPathName() const
{
    return CString(m_ofn.lpstrFile ? m_ofn.lpstrFile : "");
}

CString CFileDialog::GetFileTitle() const
{
    return FileTitleOf(GetPathName());
}
