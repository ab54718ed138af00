// Modal messages of the desktop program.
#pragma once

#include <QString>

// Shows a modal message box with an OK button over the active window. Safe
// to call from any thread: off the user-interface thread it is queued, not
// waited for (the worker reports placement conflicts this way).
void showMessageBox(const QString& text);
