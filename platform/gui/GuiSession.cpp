#include "GuiSession.h"

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <xcb/xcb.h>

namespace {

std::unique_ptr<QApplication>& OwnSession()
{
    static std::unique_ptr<QApplication> session;
    return session;
}

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string X11Problem()
{
    const std::string display = Env("DISPLAY");
    if (display.empty())
        return "no display (DISPLAY is not set)";
    xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
    const bool failed = xcb_connection_has_error(connection) != 0;
    xcb_disconnect(connection);
    return failed ? "cannot connect to display " + display : "";
}

} // namespace

std::string DisplayProblem()
{
    const std::string platform = Env("QT_QPA_PLATFORM");
    if (platform.rfind("wayland", 0) == 0)
        return Env("WAYLAND_DISPLAY").empty() ? "no display (WAYLAND_DISPLAY is not set)" : "";
    if (platform.empty() || platform.rfind("xcb", 0) == 0)
        return X11Problem();
    // offscreen, minimal, vnc, linuxfb, ...: the platform needs no display.
    return "";
}

BOOL EnsureGuiSession()
{
    if (QApplication::instance())
        return TRUE;
    const std::string problem = DisplayProblem();
    if (!problem.empty()) {
        std::fprintf(stderr,
                     "quorvex: cannot show the dialog window: %s; "
                     "give options to measure in console mode (quorvex -h lists them)\n",
                     problem.c_str());
        return FALSE;
    }
    static int argc = 1;
    static char name[] = "quorvex";
    static char* argv[] = {name, nullptr};
    OwnSession() = std::make_unique<QApplication>(argc, argv);
    return TRUE;
}

BOOL HasGuiSession()
{
    return QApplication::instance() != nullptr;
}

void EndGuiSession()
{
    OwnSession().reset();
}

BOOL PeekMessageA(MSG*, HWND, UINT, UINT, UINT)
{
    return HasGuiSession();
}

BOOL AfxPumpMessage()
{
    if (!HasGuiSession())
        return FALSE;
    QApplication::processEvents(QEventLoop::AllEvents);
    return TRUE;
}

void WaitMessage()
{
    if (HasGuiSession())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
