// cellforge [PROJECT.prj]: the desktop program.
//
// Without an argument the program starts with no document. A project given
// on the command line is opened exactly as "&Open..." would open it.
#include <QApplication>
#include <QStringList>
#include <QSurfaceFormat>

#include "shell/main_frame.h"
#include "shell/recent_files.h"

int main(int argc, char** argv) {
    // The scene uses the fixed pipeline: ask for a compatibility context.
    QSurfaceFormat format;
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    QSurfaceFormat::setDefaultFormat(format);

    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QString::fromLatin1(kSettingsOrganisation));
    QCoreApplication::setApplicationName(QString::fromLatin1(kSettingsApplication));

    CMainFrame frame;
    frame.show();
    const QStringList args = QCoreApplication::arguments();
    if (args.size() > 1) frame.openProjectFile(args.at(1));
    return app.exec();
}
