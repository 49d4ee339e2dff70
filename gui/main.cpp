#include "gui/desktop.h"
#include "gui/endsignals.h"
#include "gui/mainwindow.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char* argv[])
{
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
