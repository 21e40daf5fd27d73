// Saves the program's own icon at one size as a PNG file, for the icon theme:
//     quorvex-render-icon SIZE FILE.png

#include "IconImages.h"
#include "Resource.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: quorvex-render-icon SIZE FILE.png\n", stderr);
        return 2;
    }
    const int size = std::atoi(argv[1]);
    const char* file = argv[2];
    // Images need an application object, which needs no display here.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QPixmap pixmap = IconPixmap(IDR_MAINFRAME, size);
    if (pixmap.isNull() || !pixmap.save(file, "PNG")) {
        std::fprintf(stderr, "quorvex-render-icon: cannot save a %d pixel icon as %s\n", size, file);
        return 1;
    }
    return 0;
}
