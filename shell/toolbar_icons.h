// Toolbar pictures, drawn in code so the program needs no image files.
#pragma once

#include <QIcon>

// The 16 x 15 picture of a command's toolbar button.
QIcon toolbarIcon(int commandId);

// The program's icon: a part cube in the colours of a conductor.
QIcon applicationIcon();
