// The Signals pane: lanes for the project's monitored terminals and for
// watched parts, recorded by the worker after each generation. What a lane
// recorded is checked against the universe itself (stepped by hand and run
// again in a second document), the traces are read back as pixels, and
// loads and closes while the worker runs must not leave the recorder
// pointing into a freed terminal table. Runs under Xvfb with software GL.
#include <QAction>
#include <QDockWidget>
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>

#include <filesystem>
#include <memory>
#include <set>

#include "gui_support.h"
#include "files/document.h"
#include "files/grid_file.h"
#include "files/monitor.h"
#include "files/terminals.h"
#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/commands.h"
#include "shell/main_frame.h"
#include "shell/signals_pane.h"
#include "universe/universe.h"
#include "view/navigation.h"

namespace {

// A ring of a NOR gate and three conductors: the gate's output goes round
// the ring and comes back as its own input, so it turns on and off with a
// period of eight generations.
std::vector<GridCell> ringCells() {
    return {
        {0, 0, 0, 2, 1, 0},  // NOR gate, front +x, side +y
        {1, 0, 0, 1, 1, 0},  // conductor fed from -x
        {1, 1, 0, 1, 0, 1},  // conductor fed from -y
        {0, 1, 0, 1, 3, 0},  // conductor fed from +x, drives -y into the gate
    };
}

constexpr int32_t kGateFront = 1;  // +x

QString copyMembank(const QString& folder) {
    for (const char* name : {"membank.prj", "membank.grd", "membank.trm", "membank.sti", "membank.uvw", "membank.mon"})
        std::filesystem::copy_file(std::string(EXAMPLES_DIR) + "/membank/" + name,
                                   (folder + QLatin1Char('/') + QLatin1String(name)).toStdString(),
                                   std::filesystem::copy_options::overwrite_existing);
    return folder + QStringLiteral("/membank.prj");
}

std::vector<std::string> laneNames(const SignalRows& rows) {
    std::vector<std::string> out;
    for (const SignalLane& l : rows.lanes) out.push_back(l.name);
    return out;
}

}  // namespace

class SignalsTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir_;
    std::unique_ptr<QTemporaryDir> work_;
    std::unique_ptr<CMainFrame> frame_;

    SignalsPane* pane() { return frame_->signalsPane(); }
    void showSignals() {
        frame_->action(cmd::ViewSignals)->setChecked(true);
        QCoreApplication::processEvents();
        frame_->refreshSignals();
    }
    void activate(CCellforgeDoc* d) {
        frame_->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(d->firstView()->parentWidget()));
    }
    void stop(CCellforgeDoc* d) {
        d->engine().stopCommand();
        d->driver().waitUntilStopped();
    }
    void runTo(CCellforgeDoc* d, uint32_t generation) {
        d->engine().setRunUntil(generation);
        d->engine().runCommand();
        d->driver().waitUntilStopped();
        d->engine().setRunUntil(0);
    }
    CCellforgeDoc* openRing() {
        const QString path = work_->filePath(QStringLiteral("ring.grd"));
        writeText(path, gridText(ringCells()));
        CCellforgeDoc* d = frame_->openDocument(path);
        if (d) activate(d);
        return d;
    }
    // The window position where the gate at the origin shows.
    QPoint gatePixel(CCellforgeView* v) {
        const auto p = projectToPixel(v->camera(), v->width(), v->height(), 0, 0, 0);
        return p ? QPoint(int((*p)[0]), int((*p)[1])) : QPoint(-1, -1);
    }

private slots:
    void initTestCase() { isolateSettings(settingsDir_.path()); }

    void init() {
        QSettings(kSettingsOrganisation, kSettingsApplication).clear();
        work_ = std::make_unique<QTemporaryDir>();
        frame_ = std::make_unique<CMainFrame>();
        frame_->timer().stop();
        frame_->resize(1100, 800);
        frame_->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
    }

    void cleanup() { frame_.reset(); }

    // The pane lists every terminal the project's monitor names, triggers
    // and values of each group in order, each once; after a run each lane's
    // newest value is what the terminal shows in the universe.
    void monitoredTerminalsAreLanes() {
        QVERIFY(frame_->openProjectFile(copyMembank(work_->path())));
        CCellforgeDoc* d = frame_->activeDocument();
        QVERIFY(d);
        QCOMPARE(frame_->signalsDock()->isHidden(), true);
        QVERIFY(!d->signalWatch().active());
        showSignals();
        QVERIFY(d->signalWatch().active());
        QCOMPARE(pane()->document(), d);

        std::vector<std::string> wanted;
        std::set<std::string> seen;
        d->engine().withUniverse([&](Universe&) {
            for (const MonitorGroup& g : d->engine().monitor()->groups) {
                for (const Terminal* t : g.triggers)
                    if (seen.insert(t->name).second) wanted.push_back(t->name);
                for (const Terminal* t : g.values)
                    if (seen.insert(t->name).second) wanted.push_back(t->name);
            }
        });
        QCOMPARE(int(wanted.size()), 7);
        QCOMPARE(wanted.front(), std::string("taps.clock"));
        QCOMPARE(laneNames(pane()->rows()), wanted);
        for (const SignalLane& l : pane()->rows().lanes) QVERIFY(l.terminal);

        runTo(d, 40);
        pane()->refresh();
        const SignalRows& rows = pane()->rows();
        QVERIFY(rows.rows() >= 40);
        QCOMPARE(rows.generations.back(), 40u);
        for (size_t r = 1; r < rows.rows(); ++r) QCOMPARE(rows.generations[r], rows.generations[r - 1] + 1);
        d->engine().withUniverse([&](Universe& u) {
            for (size_t l = 0; l < rows.lanes.size(); ++l) {
                const Terminal* t = findTerminal(d->engine().terminals(), rows.lanes[l].name);
                QVERIFY(t);
                QCOMPARE(int(rows.value(rows.rows() - 1, l)), int(u.testOutput(t->x, t->y, t->z, t->direction)));
            }
        });
        // Closing the dock stops the recording altogether.
        frame_->signalsDock()->close();
        QCoreApplication::processEvents();
        frame_->refreshSignals();
        QVERIFY(!d->signalWatch().active());
        QVERIFY(!frame_->action(cmd::ViewSignals)->isChecked());
        QVERIFY(d->engine().runWatcher() == nullptr);
    }

    // Watch (the right-click menu of a part) adds a lane for the part's
    // front face. What the lane recorded is what the universe showed: step
    // by step against the universe read directly, and over a free run of
    // more than the kept rows against a second document stepped apart.
    void watchedPartRecordsWhatTheUniverseShows() {
        CCellforgeDoc* d = openRing();
        QVERIFY(d);
        CCellforgeView* v = d->firstView();
        QVERIFY(v->fitAll().fitted);
        const QPoint at = gatePixel(v);
        const auto hit = v->partAt(at);
        QVERIFY(hit && hit->x == 0 && hit->y == 0 && hit->z == 0);
        // Empty space has no menu.
        QVERIFY(!v->partAt(QPoint(2, 2)));
        QVERIFY(!v->partMenu(QPoint(2, 2), v));

        std::unique_ptr<QMenu> menu(v->partMenu(at, v));
        QVERIFY(menu);
        QCOMPARE(menu->actions().size(), 1);
        QCOMPARE(menu->actions().front()->text(), QStringLiteral("Watch"));
        QVERIFY(frame_->signalsDock()->isHidden());
        menu->actions().front()->trigger();
        QCoreApplication::processEvents();
        // Watching opens the pane.
        QVERIFY(frame_->action(cmd::ViewSignals)->isChecked());
        QVERIFY(!frame_->signalsDock()->isHidden());
        QVERIFY(!v->watchAt(at));  // once per face
        pane()->refresh();
        QCOMPARE(int(pane()->rows().lanes.size()), 1);
        QCOMPARE(pane()->rows().lanes[0].direction, kGateFront);

        std::vector<uint8_t> byHand;
        d->engine().withUniverse([&](Universe& u) { byHand.push_back(u.testOutput(0, 0, 0, kGateFront)); });
        for (int i = 0; i < 20; ++i) {
            d->engine().stepCommand();
            d->driver().waitUntilStopped();
            d->engine().withUniverse([&](Universe& u) { byHand.push_back(u.testOutput(0, 0, 0, kGateFront)); });
        }
        pane()->refresh();
        {
            const SignalRows& rows = pane()->rows();
            QCOMPARE(rows.rows(), byHand.size());
            for (size_t r = 0; r < rows.rows(); ++r) {
                QCOMPARE(rows.generations[r], uint32_t(r));
                QCOMPARE(int(rows.value(r, 0)), int(byHand[r]));
            }
        }

        // A free run past the kept rows, with the pane copying meanwhile.
        d->engine().runCommand();
        for (int i = 0; i < 30; ++i) {
            frame_->refreshSignals();
            QTest::qWait(2);
            d->engine().withUniverse([](Universe&) {});
        }
        runTo(d, 900);
        stop(d);
        pane()->refresh();
        const SignalRows rows = pane()->rows();
        QCOMPARE(rows.rows(), SignalWatch::kRows);
        uint32_t now = 0;
        d->engine().withUniverse([&](Universe& u) { now = u.generation; });
        QCOMPARE(rows.generations.back(), now);
        for (size_t r = 1; r < rows.rows(); ++r) QCOMPARE(rows.generations[r], rows.generations[r - 1] + 1);

        CellforgeDocument reference;
        int toggles = 0;
        reference.withUniverse([&](Universe& u) {
            QVERIFY(openGridDocument(u, work_->filePath(QStringLiteral("ring.grd")).toStdString(), nullptr));
            while (u.generation < rows.generations.front()) reference.driver().runGeneration();
            for (size_t r = 0; r < rows.rows(); ++r) {
                if (r) reference.driver().runGeneration();
                QCOMPARE(u.generation, rows.generations[r]);
                QCOMPARE(int(rows.value(r, 0)), int(u.testOutput(0, 0, 0, kGateFront)));
                if (r && rows.value(r, 0) != rows.value(r - 1, 0)) ++toggles;
            }
        });
        // The ring really oscillates: a lane stuck at one level proves nothing.
        QVERIFY2(toggles > 100, qPrintable(QString::number(toggles)));

        // ---- the traces, read back
        pane()->setSpan(64);
        QCOMPARE(pane()->span(), 64);
        QCOMPARE(pane()->rows().rows(), rows.rows());
        frame_->signalsDock()->setFloating(true);
        frame_->signalsDock()->resize(900, 200);
        QCoreApplication::processEvents();
        pane()->refresh();
        QVERIFY(pane()->traceRect().width() >= 64 * 4);
        QCOMPARE(pane()->rows().rows(), rows.rows());
        const QImage img = pane()->grab().toImage().convertToFormat(QImage::Format_RGB32);
        const qreal dpr = img.devicePixelRatio();
        const QRgb trace = SignalsPane::traceColour().rgb();
        int checked = 0;
        for (size_t r = rows.rows() - 64; r < rows.rows(); ++r) {
            const auto x = pane()->xOfGeneration(rows.generations[r]);
            QVERIFY(x);
            const bool on = rows.value(r, 0) != 0;
            const QRgb hi = img.pixel(QPoint(*x, pane()->highY(0)) * dpr);
            const QRgb lo = img.pixel(QPoint(*x, pane()->lowY(0)) * dpr);
            QVERIFY2((hi == trace) == on && (lo == trace) == !on,
                     qPrintable(QStringLiteral("generation %1 value %2 at %3: high %4 low %5")
                                    .arg(rows.generations[r])
                                    .arg(on)
                                    .arg(*x)
                                    .arg(QColor(hi).name(), QColor(lo).name())));
            ++checked;
        }
        QCOMPARE(checked, 64);
        // Generations before the window are not drawn.
        QVERIFY(!pane()->xOfGeneration(rows.generations.back() - 64));

        // The cursor reads out the generation under it and the lane's value.
        const size_t r = rows.rows() - 10;
        pane()->setCursorAt(QPoint(*pane()->xOfGeneration(rows.generations[r]), pane()->highY(0)));
        QCOMPARE(pane()->readout(), QStringLiteral("generation %1: (0, 0, 0) +x=%2")
                                        .arg(rows.generations[r])
                                        .arg(rows.value(r, 0)));
        pane()->setCursorAt(std::nullopt);
        QVERIFY(pane()->readout().isEmpty());

        // Remove, from the lane's menu.
        std::unique_ptr<QMenu> laneMenu(pane()->laneMenu(0, pane()));
        QVERIFY(laneMenu);
        QCOMPARE(laneMenu->actions().front()->text(), QStringLiteral("Remove"));
        QVERIFY(!pane()->laneMenu(1, pane()));
        laneMenu->actions().front()->trigger();
        QVERIFY(pane()->rows().lanes.empty());
        // The face can be watched again.
        QVERIFY(v->watchAt(at));
        pane()->refresh();
        QCOMPARE(int(pane()->rows().lanes.size()), 1);
    }

    // Undo goes back through the timeline: the rows of the run being left
    // go, and the replay's rows agree with the universe again.
    void timelineMovesKeepTheRowsInOrder() {
        CCellforgeDoc* d = openRing();
        QVERIFY(d);
        showSignals();
        QVERIFY(d->signalWatch().watchCell(0, 0, 0, kGateFront));
        runTo(d, 100);
        QString error;
        QVERIFY2(d->rewindTo(37, error), qPrintable(error));
        pane()->refresh();
        const SignalRows& rows = pane()->rows();
        QVERIFY(rows.rows() >= 1);
        QCOMPARE(rows.generations.back(), 37u);
        for (size_t r = 1; r < rows.rows(); ++r) QVERIFY(rows.generations[r] > rows.generations[r - 1]);
        d->engine().withUniverse(
            [&](Universe& u) { QCOMPARE(int(rows.value(rows.rows() - 1, 0)), int(u.testOutput(0, 0, 0, kGateFront))); });
    }

    // Loading the project again while it runs frees the terminal table the
    // lanes point into; so does closing the document. Neither may leave the
    // worker sampling through a freed table (run under AddressSanitizer to
    // see it), and the lanes come back from the new monitor.
    void reloadAndCloseWhileRunning() {
        const QString project = copyMembank(work_->path());
        QVERIFY(frame_->openProjectFile(project));
        CCellforgeDoc* d = frame_->activeDocument();
        QVERIFY(d);
        showSignals();
        CCellforgeView* v = d->firstView();
        v->fitAll();
        d->engine().runCommand();
        for (int round = 0; round < 4; ++round) {
            for (int i = 0; i < 5; ++i) {
                frame_->tick();
                QTest::qWait(5);
            }
            QVERIFY(frame_->openProjectFile(project));
            QCOMPARE(frame_->activeDocument(), d);
            d->engine().runCommand();
            frame_->tick();
            QCOMPARE(int(pane()->rows().lanes.size()), 7);
        }
        frame_->tick();
        QVERIFY(pane()->rows().rows() >= 1);
        QPointer<CCellforgeDoc> gone(d);
        frame_->closeDocument(d);
        QCoreApplication::processEvents();
        QVERIFY(!gone);
        frame_->tick();
        QVERIFY(pane()->document() == nullptr);
        QVERIFY(pane()->rows().lanes.empty());
    }
};

QTEST_MAIN(SignalsTest)
#include "signals_test.moc"
