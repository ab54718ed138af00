// Modal messages of the desktop program.
#pragma once

#include <QString>

// Shows a modal message box with an OK button over the active window. Safe
// to call from any thread: off the user-interface thread it is queued, not
// waited for (the worker reports placement conflicts this way).
void showMessageBox(const QString& text);

// Why a file cannot be written at `path`, judged before writing and in the
// words a user can act on ("the folder ... does not exist", "it is not a
// regular file", "permission denied"); empty when nothing stands in the way.
QString outputProblem(const QString& path);
