#include "QuorvexCommandLine.h"

#include "MessageBox.h"
#include "SystemReport.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// Opens the console log named by the option; null when it cannot be opened.
FILE* OpenConsoleLog(const CString& fileName)
{
    std::unique_ptr<char[]> name(new (std::nothrow) char[fileName.GetLength() + 1]);
    if (!name) {
        MessageBoxA(nullptr, "Unable to alloc memory for szParams", "App Params", MB_OK);
        return nullptr;
    }
    std::strcpy(name.get(), fileName);
    FILE* stream = std::fopen(name.get(), "w");
    if (stream)
        std::fputs("Quorvex 1.0 Log\n", stream);
    return stream;
}

} // namespace

void CQuorvexCommandLine::RunConsole()
{
    std::fputs("Quorvex 1.0\n\n", stdout);
    ParseOptions();
    if (m_options[OPT_LOG].m_bSet)
        m_stream = OpenConsoleLog(m_options[OPT_LOG].m_strValue);

    if (PrintSystemReport(m_stream)) {
        std::fputs("\n\nPress Enter key to exit... ", stdout);
        std::fflush(stdout);
        std::getchar();
    }

    if (m_stream) {
        std::fclose(m_stream);
        m_stream = nullptr;
    }
}
