// cellforge [--threads N] [PROJECT.prj]: the desktop program.
//
// Without an argument the program starts with no document. A project given
// on the command line is opened exactly as "&Open..." would open it.
// --threads N lets every document evaluate its rules on N threads (default 1).
#include <QApplication>
#include <QOpenGLContext>
#include <QStringList>
#include <QSurfaceFormat>

#include <cstdio>

#include "shell/cellforge_doc.h"
#include "shell/main_frame.h"
#include "shell/recent_files.h"

int main(int argc, char** argv) {
    // The scene uses the fixed pipeline: ask for a compatibility context.
    QSurfaceFormat format;
    format.setProfile(QSurfaceFormat::CompatibilityProfile);
    format.setDepthBufferSize(24);
    QSurfaceFormat::setDefaultFormat(format);

    QApplication app(argc, argv);
    {
        // Every view draws with OpenGL. On a platform that cannot show an
        // OpenGL widget the program would go down in its first paint, so
        // say so and stop instead. ("offscreen" and "minimal" draw widgets
        // into memory only; with an X display at hand they may still make a
        // context, but not one a widget can show.)
        const QString platform = QGuiApplication::platformName();
        QOpenGLContext probe;
        if (platform == QLatin1String("offscreen") || platform == QLatin1String("minimal") || !probe.create()) {
            std::fprintf(stderr,
                         "cellforge: the display platform '%s' gives the views no OpenGL to draw with; run the program on an X11 or Wayland display (xvfb-run for a virtual one), or "
                         "use cellforge-run for runs and pictures without a display\n",
                         qPrintable(platform));
            return 1;
        }
    }
    QCoreApplication::setOrganizationName(QString::fromLatin1(kSettingsOrganisation));
    QCoreApplication::setApplicationName(QString::fromLatin1(kSettingsApplication));

    CMainFrame frame;
    frame.show();
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.size() >= 2 && args.at(0) == QLatin1String("--threads")) {
        bool ok = false;
        const int threads = args.at(1).toInt(&ok);
        if (ok && threads >= 1) CCellforgeDoc::setDefaultThreads(threads);
        args.remove(0, 2);
    }
    if (!args.isEmpty()) frame.openProjectFile(args.at(0));
    return app.exec();
}
