#include "gui/endsignals.h"
#include "core/link/endsignals.h"

#include <QWidget>
#include <csignal>

bool closeOnEndSignals(QWidget* window)
{
    auto* endSignals = new EndSignals(window);
    QObject::connect(endSignals, &EndSignals::arrived, window, &QWidget::close);
    return endSignals->install({SIGTERM, SIGINT, SIGHUP});
}
