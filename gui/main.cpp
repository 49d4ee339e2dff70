#include "gui/desktop.h"
#include "gui/endsignals.h"
#include "gui/mainwindow.h"

#include "gui/buildinfo.h"

#include <QApplication>
#include <QStyleFactory>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[])
{
    // Answered before the window's application starts, so that it needs no display.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("%s %s (Qt %s)\n", buildinfo::programName, buildinfo::version, qVersion());
        return 0;
    }
    QApplication::setApplicationName(QStringLiteral("VEL_DUO300"));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication app(argc, argv);
    loadQtTranslation(&app);
    QCoreApplication::processEvents();
    MainWindow window;
    window.show();
    closeOnEndSignals(&window);
    return app.exec();
}
