// Frames and generations per second of the desktop view showing the whole
// memory bank in a maximised 1000x650 view.
//
//   xvfb-run -a -s "-screen 0 1280x1024x24" bank_view_bench [slow|go] [SECONDS] [PROJECT] [--signals N]
//
// With --signals N the Signals pane is open beside the view (docked at the
// bottom, the view grown back to 1000x650) with N lanes: the project's
// monitored terminals, then watched faces at further terminals' positions.
// Opens the project, maximises its window, looks at the whole bank (the
// project's first saved view), starts "Go Slow" (default) or "Go" and,
// after two seconds to settle, counts drawn frames and generations for
// SECONDS (default 10) with the program's own 50 ms timer. Prints the view
// size, frames and generations per second, and the median frame time and
// worker hold of the frames seen.
#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QStandardPaths>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/commands.h"
#include "shell/main_frame.h"
#include "shell/signals_pane.h"
#include "files/terminals.h"
#include "universe/universe.h"

namespace {
double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}
}  // namespace

int main(int argc, char** argv) {
    // Opening the project must not touch the user's recent-file list.
    QStandardPaths::setTestModeEnabled(true);
    QApplication app(argc, argv);
    int lanes = 0;
    std::vector<const char*> args;  // the positional ones
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--signals") == 0 && i + 1 < argc)
            lanes = std::max(1, std::atoi(argv[++i]));
        else
            args.push_back(argv[i]);
    }
    const bool go = args.size() > 0 && std::strcmp(args[0], "go") == 0;
    const int seconds = args.size() > 1 ? std::max(1, std::atoi(args[1])) : 10;
    const QString project = QString::fromLocal8Bit(args.size() > 2 ? args[2] : CELLFORGE_MEMBANK_PROJECT);

    CMainFrame frame;
    frame.show();
    if (!frame.openProjectFile(project) || !frame.activeView()) {
        std::fprintf(stderr, "bank_view_bench: cannot open %s\n", qPrintable(project));
        return 2;
    }
    CCellforgeView* view = frame.activeView();
    if (lanes > 0) {
        CCellforgeDoc* doc = frame.activeDocument();
        frame.action(cmd::ViewSignals)->setChecked(true);
        QCoreApplication::processEvents();
        frame.refreshSignals();
        std::vector<Terminal> more;
        doc->engine().withUniverse([&](Universe&) {
            if (const TerminalTable* t = doc->engine().terminals())
                for (size_t i = 0; i < t->size(); ++i) more.push_back(t->at(i));
        });
        for (size_t i = 0; i < more.size() && doc->signalWatch().lanes().size() < size_t(lanes); ++i)
            doc->signalWatch().watchCell(more[i].x, more[i].y, more[i].z, more[i].direction);
        frame.refreshSignals();
    }
    view->parentWidget()->showMaximized();
    // Grow the main window until the view is 1000x650.
    QCoreApplication::processEvents();
    frame.resize(frame.size() + QSize(1000 - view->width(), 650 - view->height()));
    QCoreApplication::processEvents();

    Camera whole;
    whole.x = 95.5f;
    whole.y = -15.5f;
    whole.z = 190.0f;
    view->setCamera(whole);
    frame.action(go ? cmd::Go : cmd::GoSlow)->trigger();

    std::vector<double> frameMs, holdMs, copyMs, paintMs;
    qint64 lastFrames = 0;
    QTimer sampler;
    QTimer paneSampler;  // what the pane itself costs: a copy of the record, a paint
    QObject::connect(&paneSampler, &QTimer::timeout, [&] {
        QElapsedTimer t;
        t.start();
        frame.refreshSignals();
        copyMs.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        (void)frame.signalsPane()->grab();  // the pane's own drawing, without the window's flush
        paintMs.push_back(double(t.nsecsElapsed()) / 1e6);
    });
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (view->framesDrawn() == lastFrames) return;
        lastFrames = view->framesDrawn();
        frameMs.push_back(view->lastFrame().totalSeconds * 1e3);
        holdMs.push_back(view->lastFrame().holdSeconds * 1e3);
    });
    qint64 startFrames = 0;
    uint32_t startGeneration = 0;
    QElapsedTimer clock;
    QTimer::singleShot(2000, [&] {
        startFrames = view->framesDrawn();
        startGeneration = view->lastSnapshot().generation;
        frameMs.clear();
        holdMs.clear();
        clock.start();
        sampler.start(10);
        if (lanes > 0) paneSampler.start(250);
    });
    QTimer::singleShot(2000 + seconds * 1000, [&] {
        const double s = double(clock.elapsed()) / 1000.0;
        if (lanes > 0)
            std::printf("Signals pane %dx%d%s, %zu lanes, %zu rows kept, copy %.3f ms, paint %.2f ms (medians); ",
                        frame.signalsPane()->width(), frame.signalsPane()->height(),
                        frame.signalsPane()->isVisible() ? " shown" : " hidden",
                        frame.activeDocument()->signalWatch().lanes().size(),
                        frame.activeDocument()->signalWatch().copyRows().rows(), median(copyMs), median(paintMs));
        std::printf("view %dx%d, %s: %.1f frames/s, %.0f generations/s, frame %.1f ms, worker held %.2f ms (medians)\n",
                    view->width(), view->height(), go ? "Go" : "Go Slow", double(view->framesDrawn() - startFrames) / s,
                    double(uint32_t(view->lastSnapshot().generation - startGeneration)) / s, median(frameMs),
                    median(holdMs));
        frame.action(cmd::Stop)->trigger();
        app.quit();
    });
    return app.exec();
}
