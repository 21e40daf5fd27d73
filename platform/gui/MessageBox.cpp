#include "MessageBox.h"

#include "Console.h"
#include "GuiSession.h"

#include <QMessageBox>

#include <cstdio>
#include <unistd.h>

namespace {

// Console mode has no window to show a box in: the box is written to
// standard error, and waits for Enter only where someone can press it.
int ConsoleMessageBox(const char* text, const char* caption)
{
    std::fflush(stdout);
    std::fprintf(stderr, "[%s] %s\n", caption ? caption : "", text ? text : "");
    if (isatty(STDIN_FILENO))
        std::fputs("(press Enter) ", stderr);
    WaitForEnter();
    return IDOK;
}

} // namespace

int MessageBoxes::Show(HWND owner, const char* text, const char* caption, UINT type)
{
    return MessageBoxA(owner, text, caption, type);
}

MessageBoxes& RealMessageBoxes()
{
    static MessageBoxes boxes;
    return boxes;
}

int MessageBoxA(HWND owner, const char* text, const char* caption, UINT)
{
    if (!HasGuiSession())
        return ConsoleMessageBox(text, caption);
    QMessageBox box(QMessageBox::NoIcon, QString::fromLocal8Bit(caption ? caption : ""),
                    QString::fromLocal8Bit(text ? text : ""), QMessageBox::Ok, owner);
    box.exec();
    return IDOK;
}
