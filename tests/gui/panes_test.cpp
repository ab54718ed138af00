// The panes beside the views and the picture on the clipboard: the legend
// paints each part type in the drawing tables' colours under its name, and
// Copy Picture puts exactly the active view's current picture on the
// clipboard; Statistics counts what the universe holds. Runs under Xvfb
// with software GL; pixels are read back.
#include <QAction>
#include <QClipboard>
#include <QElapsedTimer>
#include <QSlider>
#include <QDockWidget>
#include <QImage>
#include <QLabel>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>

#include <algorithm>
#include <memory>
#include <set>
#include <tuple>

#include "gui_support.h"
#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/commands.h"
#include "shell/legend.h"
#include "shell/main_frame.h"
#include "shell/recent_files.h"
#include "shell/statistics.h"
#include "universe/edits.h"
#include "universe/universe.h"
#include "view/camera.h"
#include "view/navigation.h"
#include "view/part_geometry.h"

namespace {

QStringList itemTexts(QMenu* m) {
    QStringList out;
    for (QAction* a : m->actions()) out << (a->isSeparator() ? QStringLiteral("-") : a->text());
    return out;
}

QImage comparable(const QImage& img) { return img.convertToFormat(QImage::Format_RGB32); }

int distinctColours(const QImage& img) {
    QSet<QRgb> seen;
    for (int y = 0; y < img.height(); y += 3)
        for (int x = 0; x < img.width(); x += 3) seen.insert(img.pixel(x, y));
    return int(seen.size());
}

}  // namespace

class PanesTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir_;
    std::unique_ptr<QTemporaryDir> work_;
    std::unique_ptr<CMainFrame> frame_;

    QAction* act(int id) { return frame_->action(id); }
    CCellforgeDoc* openDemo() {
        const QString path = work_->filePath(QStringLiteral("demo.grd"));
        writeText(path, gridText(demoCells()));
        CCellforgeDoc* d = frame_->openDocument(path);
        if (d) frame_->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(d->firstView()->parentWidget()));
        return d;
    }

private slots:
    void initTestCase() { isolateSettings(settingsDir_.path()); }

    void init() {
        QSettings(kSettingsOrganisation, kSettingsApplication).clear();
        work_ = std::make_unique<QTemporaryDir>();
        frame_ = std::make_unique<CMainFrame>();
        frame_->timer().stop();
        frame_->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
    }

    void cleanup() { frame_.reset(); }

    // The legend is reached from the document's View menu, after the items
    // that were there before; each swatch stripe is the drawing table's
    // colour for that corner, and closing the dock unchecks the item.
    void legendPaintsTheDrawingColours() {
        QVERIFY(openDemo());
        const QStringList view = itemTexts(frame_->menu(QStringLiteral("&View")));
        QVERIFY(view.size() >= 5);
        QCOMPARE(view.mid(view.size() - 5),
                 QStringList({"-", "&Legend", "Si&gnals", "Copy &Picture", "Stat&istics..."}));
        QCOMPARE(view.mid(0, 6),
                 QStringList({"&Toolbar", "&Status Bar", "-", "Regions...", "Centre of Mass", "Fit All"}));

        QDockWidget* dock = frame_->legendDock();
        QVERIFY(dock && dock->isHidden());
        QVERIFY(!act(cmd::ViewLegend)->isChecked());
        act(cmd::ViewLegend)->trigger();
        QVERIFY(dock->isVisible());
        QVERIFY(act(cmd::ViewLegend)->isChecked());
        QCoreApplication::processEvents();

        QSet<QString> records;
        for (int32_t type = 1; type <= 10; ++type) {
            auto* swatch = dock->findChild<PartSwatch*>(QStringLiteral("swatch%1").arg(type));
            auto* name = dock->findChild<QLabel*>(QStringLiteral("legendName%1").arg(type));
            QVERIFY2(swatch && name, qPrintable(QString::number(type)));
            QCOMPARE(name->text(), QString::fromStdString(partTypeName(type)));
            QVERIFY(swatch->isVisible());
            const QImage img = swatch->grab().toImage();
            const qreal dpr = img.devicePixelRatio();
            QString record;
            for (int j = 0; j < 8; ++j) {
                const QPoint at = swatch->stripeCentre(j) * dpr;
                const QColor want = screenColour(partColours(type)[size_t(j)]);
                const QColor got = img.pixelColor(at);
                QVERIFY2(qAbs(got.red() - want.red()) <= 1 && qAbs(got.green() - want.green()) <= 1 &&
                             qAbs(got.blue() - want.blue()) <= 1,
                         qPrintable(QStringLiteral("%1 stripe %2: %3 wanted %4")
                                        .arg(name->text())
                                        .arg(j)
                                        .arg(got.name(), want.name())));
                record += got.name();
            }
            records.insert(record);
        }
        // Ten types, ten different pictures: a legend that paints one record
        // for every row would not tell the parts apart.
        QCOMPARE(int(records.size()), 10);

        dock->close();
        QCoreApplication::processEvents();
        QVERIFY(!act(cmd::ViewLegend)->isChecked());
        act(cmd::ViewLegend)->trigger();
        QVERIFY(dock->isVisible());
    }

    // Copy Picture: the clipboard gets the active view's picture as drawn
    // now, and a new camera gives a new picture on the next copy.
    void copyPictureIsTheViewsPicture() {
        QVERIFY(!frame_->copyPicture());  // no view
        CCellforgeDoc* d = openDemo();
        QVERIFY(d);
        CCellforgeView* v = frame_->activeView();
        QVERIFY(v);
        QCOMPARE(act(cmd::CopyPicture)->shortcut(), QKeySequence(QStringLiteral("Ctrl+Shift+C")));
        frame_->updateCommandStates();
        QVERIFY(act(cmd::CopyPicture)->isEnabled());

        Camera c = v->camera();
        c.x = 2.5f;
        c.y = 0.5f;
        c.z = 8;
        c.alt = 0;
        c.az = 0;
        v->setCamera(c);
        v->renderNow();
        QCoreApplication::processEvents();
        QApplication::clipboard()->clear();
        act(cmd::CopyPicture)->trigger();
        const QImage first = comparable(QApplication::clipboard()->image());
        const QImage grabbed = comparable(v->grabFramebuffer());
        QVERIFY(!first.isNull());
        QCOMPARE(first.size(), grabbed.size());
        QCOMPARE(first.size(), v->size() * v->devicePixelRatio());
        QVERIFY(first == grabbed);
        QVERIFY(distinctColours(first) > 3);  // parts, not just background

        c.az = 40;
        c.x = -3;
        v->setCamera(c);
        v->renderNow();
        QCoreApplication::processEvents();
        QVERIFY(frame_->copyPicture());
        const QImage second = comparable(QApplication::clipboard()->image());
        QVERIFY(second == comparable(v->grabFramebuffer()));
        QVERIFY(second != first);
    }

    // Statistics: the counts agree with an independent walk over every part
    // (by type, bounds, blocks of 2 x 2 x 3 cells) for a scattered machine,
    // and the dialog shows them.
    void statisticsCountWhatTheUniverseHolds() {
        QVERIFY(!frame_->statistics());  // no view
        std::vector<GridCell> cells = demoCells();
        // One part of every type, scattered over distinct blocks, some at
        // negative coordinates.
        for (int t = 1; t <= 10; ++t) cells.push_back({t * 7 - 40, (t % 3) * 5 - 4, t * t - 30, t, 0, 1});
        const QString path = work_->filePath(QStringLiteral("scatter.grd"));
        writeText(path, gridText(cells));
        CCellforgeDoc* d = frame_->openDocument(path);
        QVERIFY(d);
        frame_->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(d->firstView()->parentWidget()));
        frame_->updateCommandStates();
        QVERIFY(act(cmd::ViewStatistics)->isEnabled());

        auto expected = [&] {
            UniverseStatistics e;
            d->engine().withUniverse([&](Universe& u) {
                const int32_t lo[3] = {-100000, -100000, -100000}, hi[3] = {100000, 100000, 100000};
                std::set<std::tuple<int, int, int>> blocks;
                for (const UniverseCell& c : partsInBox(u, lo, hi)) {
                    ++e.byType[c.partType >= 1 && c.partType <= 10 ? size_t(c.partType) : 0];
                    ++e.parts;
                    const int32_t at[3] = {c.x, c.y, c.z};
                    for (int k = 0; k < 3; ++k) {
                        e.lo[k] = e.haveParts ? std::min(e.lo[k], at[k]) : at[k];
                        e.hi[k] = e.haveParts ? std::max(e.hi[k], at[k]) : at[k];
                    }
                    e.haveParts = true;
                    auto down = [](int v, int n) { return v >= 0 ? v / n : -((-v + n - 1) / n); };
                    blocks.insert({down(c.x, 2), down(c.y, 2), down(c.z, 3)});
                }
                e.blocks = blocks.size();
                e.generation = u.generation;
            });
            return e;
        };
        auto same = [](const UniverseStatistics& a, const UniverseStatistics& e) {
            return a.byType == e.byType && a.parts == e.parts && a.haveParts == e.haveParts &&
                   std::equal(a.lo, a.lo + 3, e.lo) && std::equal(a.hi, a.hi + 3, e.hi) &&
                   a.generation == e.generation;
        };

        auto s = frame_->statistics();
        QVERIFY(s);
        const UniverseStatistics e = expected();
        QVERIFY(same(*s, e));
        QCOMPARE(s->parts, cells.size());
        for (int t = 1; t <= 10; ++t) QVERIFY(s->byType[size_t(t)] >= 1);
        QCOMPARE(s->lo[0], -33);
        QCOMPARE(s->hi[2], 70);
        // Every block that holds a part is counted; right after loading no
        // empty ones linger.
        QCOMPARE(s->blocks, e.blocks);

        // After some generations (parts may have moved) the counts still
        // agree with the walk.
        for (int i = 0; i < 5; ++i) {
            d->driver().waitUntilStopped();
            act(cmd::Step)->trigger();
            d->driver().waitUntilStopped();
        }
        s = frame_->statistics();
        QVERIFY(s);
        QCOMPARE(s->generation, e.generation + 5);
        QVERIFY(same(*s, expected()));

        // The dialog shows the same numbers.
        const UniverseStatistics shown = *s;
        bool checked = false;
        whenModal<StatisticsDialog>([&](StatisticsDialog* dialog) {
            auto text = [&](const QString& key) {
                auto* l = dialog->findChild<QLabel*>(QStringLiteral("stat") + key);
                return l ? l->text() : QStringLiteral("<none>");
            };
            QCOMPARE(text(QStringLiteral("Parts")), QString::number(shown.parts));
            for (int t = 1; t <= 10; ++t)
                QCOMPARE(text(QStringLiteral("Type%1").arg(t)), QString::number(shown.byType[size_t(t)]));
            QCOMPARE(text(QStringLiteral("Generation")), QString::number(shown.generation));
            QCOMPARE(text(QStringLiteral("Box")), QStringLiteral("%1 %2 %3 to %4 %5 %6")
                                                      .arg(shown.lo[0])
                                                      .arg(shown.lo[1])
                                                      .arg(shown.lo[2])
                                                      .arg(shown.hi[0])
                                                      .arg(shown.hi[1])
                                                      .arg(shown.hi[2]));
            QCOMPARE(text(QStringLiteral("Blocks")), QString::number(shown.blocks));
            checked = true;
            dialog->accept();
        });
        act(cmd::ViewStatistics)->trigger();
        QVERIFY(checked);
    }

    // Go Slow's pace: the slider sets the active document's least time
    // between generations and the speed pane shows it. The worker may take
    // no more generations than the pace allows (plus the one Go Slow lets
    // through at once), while one per frame takes one for nearly every
    // frame drawn. Only upper bounds on the paced run, so a slow machine
    // cannot fail it.
    void paceThrottlesGoSlow() {
        QVERIFY(!frame_->paceSlider()->isEnabled());
        CCellforgeDoc* d = openDemo();
        QVERIFY(d);
        frame_->tick();
        QVERIFY(frame_->paceSlider()->isEnabled());
        QCOMPARE(d->slowPace(), 0);
        QVERIFY2(frame_->statusPane(2)->text().contains(QStringLiteral("slow: 1/frame")),
                 qPrintable(frame_->statusPane(2)->text()));
        d->setSlowPace(5000);
        QCOMPARE(d->slowPace(), CCellforgeDoc::kMaxSlowPaceMs);

        auto generation = [d] {
            uint32_t g = 0;
            d->engine().withUniverse([&](Universe& u) { g = u.generation; });
            return g;
        };
        // Runs Go Slow for `ms` of frames and returns generations taken and frames drawn.
        auto slowRun = [&](int ms) {
            d->driver().waitUntilStopped();
            const uint32_t g0 = generation();
            const qint64 f0 = frame_->activeView()->framesDrawn();
            act(cmd::GoSlow)->trigger();
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < ms) {
                frame_->tick();
                QCoreApplication::processEvents();
                QTest::qWait(10);
            }
            act(cmd::Stop)->trigger();
            d->driver().waitUntilStopped();
            return std::pair<int64_t, int64_t>(int64_t(generation() - g0),
                                               int64_t(frame_->activeView()->framesDrawn() - f0));
        };

        frame_->paceSlider()->setValue(4);
        QCOMPARE(d->slowPace(), 400);
        frame_->tick();
        QVERIFY2(frame_->statusPane(2)->text().contains(QStringLiteral("slow: 1/0.4 s")),
                 qPrintable(frame_->statusPane(2)->text()));
        QElapsedTimer whole;
        whole.start();
        const auto [paced, pacedFrames] = slowRun(1300);
        const qint64 spent = whole.elapsed();
        QVERIFY2(paced >= 1 && paced <= 1 + spent / 400, qPrintable(QStringLiteral("%1 generations in %2 ms")
                                                                       .arg(paced)
                                                                       .arg(spent)));
        QVERIFY(pacedFrames > paced);

        frame_->paceSlider()->setValue(0);
        QCOMPARE(d->slowPace(), 0);
        const auto [free, frames] = slowRun(1300);
        // One per frame: at most one more generation than frames (the one
        // Go Slow lets through), and far more than the paced run's (a loaded
        // machine may let the worker miss some frames, so no tighter bound).
        QVERIFY2(free <= frames + 1 && free * 4 >= frames && free > paced,
                 qPrintable(QStringLiteral("%1 generations, %2 frames").arg(free).arg(frames)));
    }
};

QTEST_MAIN(PanesTest)
#include "panes_test.moc"
