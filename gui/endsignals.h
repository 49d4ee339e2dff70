#pragma once

class QWidget;

// SIGTERM, SIGINT and SIGHUP close the window, so that the program ends as it does when the
// user closes it: the worker stops, the port is closed (its lock file removed) and the log is
// complete. A second signal of the same kind, arriving while the program is already ending,
// ends it at once. Returns false when the handlers could not be installed.
bool closeOnEndSignals(QWidget* window);
