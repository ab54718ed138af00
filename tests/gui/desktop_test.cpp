// The desktop program as people expect to use it: the mouse on the camera,
// Fit All, saved views from the View menu, hover inspection, the run-state
// and speed panes, status messages for failed file operations and the enable
// state without a document (Cascade: workflow_test). Runs under Xvfb with software GL.
#include <QAction>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <sys/stat.h>
#include <memory>

#include "gui_support.h"
#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "session/session.h"
#include "shell/main_frame.h"
#include "universe/universe.h"
#include "view/navigation.h"

namespace {

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held) {
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &e);
}

void sendMouse(QWidget* w, QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons held,
               Qt::KeyboardModifiers mods) {
    QMouseEvent e(type, QPointF(pos), QPointF(w->mapToGlobal(pos)), button, held, mods);
    QApplication::sendEvent(w, &e);
}

void drag(QWidget* w, Qt::MouseButton button, QPoint from, QPoint to, Qt::KeyboardModifiers mods = Qt::NoModifier) {
    sendMouse(w, QEvent::MouseButtonPress, from, button, button, mods);
    const int steps = 8;
    for (int i = 1; i <= steps; ++i)
        sendMouse(w, QEvent::MouseMove, from + (to - from) * i / steps, Qt::NoButton, button, mods);
    sendMouse(w, QEvent::MouseButtonRelease, to, button, Qt::NoButton, mods);
}

void wheel(QWidget* w, QPoint pos, int angle) {
    QWheelEvent e(QPointF(pos), QPointF(w->mapToGlobal(pos)), QPoint(), QPoint(0, angle), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

bool sameCamera(const Camera& a, const Camera& b) {
    return a.x == b.x && a.y == b.y && a.z == b.z && a.alt == b.alt && a.az == b.az;
}

QString examplePath(const char* relative) { return QStringLiteral(EXAMPLES_DIR "/") + QLatin1String(relative); }

}  // namespace

class DesktopTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir_;
    std::unique_ptr<QTemporaryDir> work_;
    std::unique_ptr<CMainFrame> frame_;
    ScriptedDialogs dialogs_;

    QAction* act(int id) { return frame_->action(id); }
    void ticks(int n) {
        for (int i = 0; i < n; ++i) {
            frame_->tick();
            QCoreApplication::processEvents();
        }
    }
    QString message() const { return frame_->statusBar()->currentMessage(); }
    // Copies the example's project folder so the tests never write into it.
    QString copyExample(const char* name) {
        QDir src(examplePath(name));
        for (const QString& f : src.entryList(QDir::Files))
            QFile::copy(src.filePath(f), work_->filePath(f));
        return work_->path();
    }

private slots:
    void initTestCase() { isolateSettings(settingsDir_.path()); }

    void init() {
        QSettings(kSettingsOrganisation, kSettingsApplication).clear();
        work_ = std::make_unique<QTemporaryDir>();
        frame_ = std::make_unique<CMainFrame>();
        frame_->timer().stop();
        frame_->setFileDialogs(&dialogs_);
        dialogs_.answers.clear();
        frame_->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
    }

    void cleanup() {
        frame_.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    void withoutAViewEveryViewCommandIsOffAndLooksIt() {
        for (int id : {int(cmd::Settings), int(cmd::WriteDriveCoordinates), int(cmd::FitAll), int(cmd::Go),
                       int(cmd::Stop), int(cmd::Step), int(cmd::GoSlow)}) {
            QAction* a = act(id);
            QVERIFY2(!a->isEnabled(), qPrintable(QString::number(id)));
            if (QWidget* button = frame_->toolBar()->widgetForAction(a)) QVERIFY(!button->isEnabled());
        }
        // A disabled button must not look like an enabled one: the style's
        // own greying leaves a white page with grey lines as it was, so the
        // disabled look is a grey outline with nothing light in it.
        for (int id : {int(cmd::Settings), int(cmd::WriteDriveCoordinates)}) {
            const QIcon icon = act(id)->icon();
            const QImage normal = icon.pixmap(QSize(16, 15), QIcon::Normal).toImage();
            const QImage disabled = icon.pixmap(QSize(16, 15), QIcon::Disabled).toImage();
            int light = 0, opaque = 0;
            for (int y = 0; y < disabled.height(); ++y)
                for (int x = 0; x < disabled.width(); ++x) {
                    const QRgb c = disabled.pixel(x, y);
                    if (qAlpha(c) < 128) continue;
                    ++opaque;
                    light += qGray(c) > 160;
                }
            QVERIFY(opaque > 0);
            QCOMPARE(light, 0);
            QVERIFY(normal != disabled);
        }
        // Open a document, close it: the same again.
        CCellforgeDoc* doc = frame_->newDocument();
        QVERIFY(doc);
        frame_->updateCommandStates();
        QVERIFY(act(cmd::WriteDriveCoordinates)->isEnabled());
        QVERIFY(act(cmd::FitAll)->isEnabled());
        frame_->closeDocument(doc);
        ticks(1);
        for (int id : {int(cmd::Settings), int(cmd::WriteDriveCoordinates), int(cmd::FitAll)})
            QVERIFY(!act(id)->isEnabled());
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Ready"));
    }

    void runStateAndSpeedPanesAndRunKeys() {
        QCOMPARE(act(cmd::Go)->shortcut(), QKeySequence(Qt::Key_F5));
        QCOMPARE(act(cmd::Stop)->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_F5));
        QCOMPARE(act(cmd::Step)->shortcut(), QKeySequence(Qt::Key_F10));
        QCOMPARE(act(cmd::GoSlow)->shortcut(), QKeySequence(Qt::Key_F8));
        QCOMPARE(act(cmd::FitAll)->shortcut(), QKeySequence(Qt::Key_Home));
        QCOMPARE(act(cmd::Go)->text(), QStringLiteral("Go"));  // the item text is unchanged

        CCellforgeDoc* doc = frame_->newDocument();
        ticks(1);
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Stopped"));
        frame_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
        QTest::keyClick(frame_->activeView(), Qt::Key_F5);
        ticks(1);
        QVERIFY(doc->engine().canStop());
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Running"));
        QTest::keyClick(frame_->activeView(), Qt::Key_F5, Qt::ShiftModifier);
        doc->driver().waitUntilStopped();
        ticks(1);
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Stopped"));
        QTest::keyClick(frame_->activeView(), Qt::Key_F8);
        ticks(1);
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Go Slow"));

        // About a second of Go Slow: one generation per drawn frame, both
        // counted in the third pane; the six numbers stay in pane 1.
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < 1300) {
            ticks(1);
            QTest::qWait(20);
        }
        const QString speed = frame_->statusPane(2)->text();
        QVERIFY2(speed.contains(QStringLiteral("gen/s")) && speed.contains(QStringLiteral("fps")), qPrintable(speed));
        QVERIFY(frame_->activeView()->framesPerSecond() > 0);
        QCOMPARE(frame_->statusPane(1)->text().split(QLatin1Char(' ')).size(), 6);
        act(cmd::Stop)->trigger();
        doc->driver().waitUntilStopped();
    }

    void mouseDragsAndTheWheelMoveTheCameraAndAClickDoesNot() {
        frame_->newDocument();
        CCellforgeView* v = frame_->activeView();
        QVERIFY(v);
        ticks(1);
        const QPoint centre(v->width() / 2, v->height() / 2);
        const Camera start = v->camera();

        // A click, with any button, leaves the camera alone.
        for (Qt::MouseButton b : {Qt::LeftButton, Qt::RightButton, Qt::MiddleButton}) {
            sendMouse(v, QEvent::MouseButtonPress, centre, b, b);
            sendMouse(v, QEvent::MouseButtonRelease, centre, b, Qt::NoButton);
        }
        QVERIFY(sameCamera(v->camera(), start));

        drag(v, Qt::LeftButton, centre, centre + QPoint(40, 0));
        QCOMPARE(v->camera().az, start.az + 10.0f);
        QCOMPARE(v->camera().x, start.x);
        QCOMPARE(v->camera().z, start.z);
        drag(v, Qt::LeftButton, centre, centre + QPoint(0, 40));
        QCOMPARE(v->camera().alt, start.alt + 10.0f);

        Camera level = start;
        v->setCamera(level);
        drag(v, Qt::RightButton, centre, centre + QPoint(50, 0));
        QVERIFY(v->camera().x < start.x);  // the world follows the pointer to the right
        QCOMPARE(v->camera().alt, start.alt);
        QCOMPARE(v->camera().az, start.az);
        QCOMPARE(v->camera().z, start.z);
        v->setCamera(level);
        drag(v, Qt::MiddleButton, centre, centre + QPoint(0, 50));
        QVERIFY(v->camera().y > start.y);

        // The wheel moves along the view; an empty universe gives the
        // default distance of 10, so one notch is 2 cells.
        v->setCamera(level);
        wheel(v, centre, 120);
        QVERIFY(std::abs(v->camera().z - (start.z - 2.0f)) < 1e-4f);
        wheel(v, centre, -120);
        QVERIFY(std::abs(v->camera().z - start.z) < 1e-4f);
        QCOMPARE(v->camera().az, start.az);
    }

    // Ctrl with a left drag orbits about the point under the pointer at the
    // press: that point stays at its pixel (and the same part stays under
    // it) while the picture turns; a plain left drag from the same start
    // turns about the eye and moves it away.
    void ctrlLeftDragOrbitsAboutThePointUnderThePointer() {
        const QString path = work_->filePath(QStringLiteral("demo.grd"));
        writeText(path, gridText(demoCells()));
        CCellforgeDoc* d = frame_->openDocument(path);
        QVERIFY(d);
        CCellforgeView* v = d->firstView();
        QVERIFY(v->fitAll().fitted);
        v->renderNow();
        const Camera start = v->camera();
        const QImage before = v->grabFramebuffer();
        // A part away from the middle, so a turn about the eye would move it.
        const auto at = projectToPixel(start, v->width(), v->height(), 5, 0, 0);
        QVERIFY(at);
        const QPoint press{int((*at)[0]), int((*at)[1])};
        const auto hit = v->partAt(press);
        QVERIFY(hit && hit->x == 5 && hit->y == 0 && hit->z == 0);
        const auto ray = pixelRay(start, v->width(), v->height(), press.x() + 0.5, press.y() + 0.5);
        const double pivot[3] = {start.x + ray[0] * hit->distance, start.y + ray[1] * hit->distance,
                                 start.z + ray[2] * hit->distance};

        drag(v, Qt::LeftButton, press, press + QPoint(60, 32), Qt::ControlModifier);
        const Camera orbited = v->camera();
        QCOMPARE(orbited.az, start.az + 15.0f);
        QCOMPARE(orbited.alt, start.alt + 8.0f);
        const auto after = projectToPixel(orbited, v->width(), v->height(), pivot[0], pivot[1], pivot[2]);
        QVERIFY(after);
        QVERIFY2(std::abs((*after)[0] - (press.x() + 0.5)) < 0.5 && std::abs((*after)[1] - (press.y() + 0.5)) < 0.5,
                 qPrintable(QStringLiteral("%1 %2").arg((*after)[0]).arg((*after)[1])));
        const auto still = v->partAt(press);
        QVERIFY(still && still->x == 5 && still->y == 0 && still->z == 0);
        v->renderNow();
        const QImage turned = v->grabFramebuffer();
        QCOMPARE(turned.size(), before.size());
        int changed = 0;
        for (int y = 0; y < turned.height(); y += 2)
            for (int x = 0; x < turned.width(); x += 2) changed += turned.pixel(x, y) != before.pixel(x, y);
        QVERIFY2(changed > 200, qPrintable(QString::number(changed)));

        // The same drag without Ctrl: the angles change alike, the point does not stay.
        v->setCamera(start);
        drag(v, Qt::LeftButton, press, press + QPoint(60, 32));
        QCOMPARE(v->camera().az, orbited.az);
        QCOMPARE(v->camera().x, start.x);
        const auto plain = projectToPixel(v->camera(), v->width(), v->height(), pivot[0], pivot[1], pivot[2]);
        QVERIFY(!plain || std::abs((*plain)[0] - (*after)[0]) + std::abs((*plain)[1] - (*after)[1]) > 20);
    }

    void fitAllShowsTheWholeShowcaseAndTheBank() {
        for (const char* demo : {"showcase", "membank"}) {
            const QString folder = copyExample(demo);
            QVERIFY(frame_->openProjectFile(folder + QStringLiteral("/%1.prj").arg(QLatin1String(demo))));
            CCellforgeView* v = frame_->activeView();
            QVERIFY(v);
            // Opening says how to see the whole machine.
            QVERIFY2(message().contains(QStringLiteral("Fit All")), qPrintable(message()));
            QWidget* sub = v->parentWidget();
            sub->showMaximized();
            QCoreApplication::processEvents();
            act(cmd::FitAll)->trigger();
            ticks(2);
            size_t parts = 0;
            v->document()->engine().withUniverse([&](Universe& u) { parts = u.partCount(); });
            QCOMPARE(size_t(v->lastSnapshot().drawnCellCount), parts);
            const QImage img = v->grabFramebuffer();
            int loX = img.width(), hiX = -1, loY = img.height(), hiY = -1;
            for (int y = 0; y < img.height(); ++y)
                for (int x = 0; x < img.width(); ++x)
                    if (img.pixel(x, y) & 0xFFFFFF) {
                        loX = std::min(loX, x);
                        hiX = std::max(hiX, x);
                        loY = std::min(loY, y);
                        hiY = std::max(hiY, y);
                    }
            QVERIFY(hiX >= 0);
            QVERIFY2(loX > 0 && hiX < img.width() - 1 && loY > 0 && hiY < img.height() - 1, demo);
            frame_->closeDocument(v->document());
        }
    }

    void savedViewsMenuRecallsAViewWhileRunning() {
        writeText(work_->filePath(QStringLiteral("demo.grd")), gridText(demoCells()));
        writeText(work_->filePath(QStringLiteral("demo.uvw")), "1.5 2 30.9 10 20 first view\n-3.7 0 12 0 -45 second\n7 8 9 1 2\n");
        writeText(work_->filePath(QStringLiteral("demo.prj")), "demo.grd\ndemo.uvw\n");
        QVERIFY(frame_->openProjectFile(work_->filePath(QStringLiteral("demo.prj"))));
        CCellforgeView* v = frame_->activeView();
        act(cmd::Go)->trigger();
        QVERIFY(v->document()->engine().canStop());
        frame_->rebuildSavedViewsMenu();
        QStringList texts;
        for (QAction* a : frame_->savedViewsMenu()->actions()) texts << a->text();
        QCOMPARE(texts, QStringList({"first view", "second", "x=7 y=8 z=9 alt=1 az=2"}));
        frame_->savedViewsMenu()->actions().at(1)->trigger();
        // Whole numbers, as the Settings dialog recalls them.
        const Camera c = v->camera();
        QCOMPARE(c.x, -3.0f);
        QCOMPARE(c.y, 0.0f);
        QCOMPARE(c.z, 12.0f);
        QCOMPARE(c.alt, 0.0f);
        QCOMPARE(c.az, -45.0f);
        ticks(2);
        QVERIFY(v->document()->engine().canStop());  // still running
        act(cmd::Stop)->trigger();
        v->document()->driver().waitUntilStopped();

        // Without saved views the menu says so.
        frame_->newDocument();
        frame_->rebuildSavedViewsMenu();
        QCOMPARE(frame_->savedViewsMenu()->actions().size(), 1);
        QVERIFY(!frame_->savedViewsMenu()->actions().at(0)->isEnabled());
    }

    void hoveringNamesThePartUnderThePointer() {
        const QString folder = copyExample("showcase");
        QVERIFY(frame_->openProjectFile(folder + QStringLiteral("/showcase.prj")));
        CCellforgeView* v = frame_->activeView();
        // A NorGate of the showcase with nothing in front of it along +z.
        int32_t gx = 0, gy = 0, gz = 0;
        bool found = false;
        v->document()->engine().withUniverse([&](Universe& u) {
            u.forEachBlock([&](const UniverseBlock* b) {
                for (int s = 0; s < 12 && !found; ++s) {
                    if (b->empty(s) || b->partType(s) != NorGate) continue;
                    bool clear = true;
                    for (int k = 1; k <= 3; ++k) {
                        const UniverseBlock* n = u.findBlock(b->cellX(s), b->cellY(s), b->cellZ(s) + k);
                        if (n && !n->empty(Universe::slotOf(b->cellX(s), b->cellY(s), b->cellZ(s) + k))) clear = false;
                    }
                    if (!clear) continue;
                    gx = b->cellX(s);
                    gy = b->cellY(s);
                    gz = b->cellZ(s);
                    found = true;
                }
            });
        });
        QVERIFY(found);
        Camera c;
        c.x = float(gx);
        c.y = float(gy);
        c.z = float(gz + 3);
        v->setCamera(c);
        ticks(1);
        const QPoint centre(v->width() / 2, v->height() / 2);
        sendMouse(v, QEvent::MouseMove, centre, Qt::NoButton, Qt::NoButton);
        ticks(2);
        const QString expect = QStringLiteral("(%1, %2, %3) NorGate  front ").arg(gx).arg(gy).arg(gz);
        const QString hover = frame_->hoverText();
        QVERIFY2(hover.startsWith(expect), qPrintable(hover));
        QVERIFY2(hover.contains(QStringLiteral("region ")), qPrintable(hover));
        QCOMPARE(v->describePartAt(centre), hover);
        // Leaving the view takes the line away.
        QEvent leave(QEvent::Leave);
        QApplication::sendEvent(v, &leave);
        ticks(2);
        QVERIFY2(frame_->hoverText().isEmpty(), qPrintable(frame_->hoverText()));

        // A part that carries a terminal is named with it.
        writeText(work_->filePath(QStringLiteral("tap.grd")), gridText(demoCells()));
        writeText(work_->filePath(QStringLiteral("tap.trm")), "object probe\n{\n tap 5 1 0 4 0\n}\n");
        writeText(work_->filePath(QStringLiteral("tap.prj")), "tap.grd\ntap.trm\n");
        QVERIFY(frame_->openProjectFile(work_->filePath(QStringLiteral("tap.prj"))));
        CCellforgeView* t = frame_->activeView();
        QVERIFY(t && t != v);
        Camera above;
        above.x = 5;
        above.y = 1;
        above.z = 3;
        t->setCamera(above);
        ticks(1);
        const QString line = t->describePartAt(QPoint(t->width() / 2, t->height() / 2));
        QVERIFY2(line.startsWith(QStringLiteral("(5, 1, 0) Rotator")), qPrintable(line));
        QVERIFY2(line.endsWith(QStringLiteral("terminal probe.tap")), qPrintable(line));
    }

    void failedFileOperationsSaySoAndStayOffTheRecentList() {
        // A folder named like a project, from the command line or the list.
        QVERIFY(QDir(work_->path()).mkdir(QStringLiteral("x.prj")));
        const QString folder = work_->filePath(QStringLiteral("x.prj"));
        QVERIFY(!frame_->openProjectFile(folder));
        // The same words as every other front end for the same fault.
        DocumentKind kind;
        QCOMPARE(message(), QString::fromStdString(judgeDocumentPath(folder.toStdString(), kind).message()));
        QVERIFY2(message().startsWith(QStringLiteral("cannot read project")), qPrintable(message()));
        QCOMPARE(frame_->recentFiles().size(), 0);
        frame_->recentFiles().add(folder);
        QVERIFY(!frame_->openRecentProject(1));
        QVERIFY2(message().contains(QStringLiteral("folder")), qPrintable(message()));
        QCOMPARE(frame_->documents().size(), size_t(0));

        // A project without a grid, and one whose grid is missing.
        writeText(work_->filePath(QStringLiteral("nogrid.prj")), "a.trm\n");
        QVERIFY(frame_->openProjectFile(work_->filePath(QStringLiteral("nogrid.prj"))));
        QVERIFY2(message().contains(QStringLiteral("names no grid file")), qPrintable(message()));
        writeText(work_->filePath(QStringLiteral("lost.prj")), "lost.grd\n");
        QVERIFY(frame_->openProjectFile(work_->filePath(QStringLiteral("lost.prj"))));
        QVERIFY2(message().contains(QStringLiteral("cannot read grid")) && message().contains(QStringLiteral("no such file")),
                 qPrintable(message()));
        // A folder named like a grid is never read as one.
        QVERIFY(QDir(work_->path()).mkdir(QStringLiteral("d.grd")));
        QVERIFY(!frame_->openDocument(work_->filePath(QStringLiteral("d.grd"))));

        // Memory... given a folder, an empty image, and a real write.
        writeText(work_->filePath(QStringLiteral("mem.grd")), gridText({{0, 0, 0, 2, 3, 0}, {1, 0, 0, 1, 0, 1}}));
        QVERIFY(frame_->openDocument(work_->filePath(QStringLiteral("mem.grd"))));
        auto memory = [&](const QString& path) {
            whenModal<MemoryDialog>([path](MemoryDialog* d) {
                d->edit(1021)->setText(path);
                d->accept();
            });
            act(cmd::WriteMemory)->trigger();
        };
        memory(work_->path());
        QVERIFY2(message().startsWith(QStringLiteral("Memory: cannot read memory file")), qPrintable(message()));
        QVERIFY2(message().endsWith(QStringLiteral("it is a folder")), qPrintable(message()));
        writeText(work_->filePath(QStringLiteral("empty.txt")), "nothing here\n");
        memory(work_->filePath(QStringLiteral("empty.txt")));
        QVERIFY2(message().contains(QStringLiteral("no program image")), qPrintable(message()));
        writeText(work_->filePath(QStringLiteral("image.txt")), "unsigned char image[] = { 1, 2, };\n");
        memory(work_->filePath(QStringLiteral("image.txt")));
        QCOMPARE(message(), QStringLiteral("Wrote 2 words into 1 modules"));

        // Frame output into a folder that is not there.
        whenModal<AnimationDialog>([&](AnimationDialog* d) {
            d->folderEdit()->setText(work_->filePath(QStringLiteral("no-such-folder")));
            d->prefixEdit()->setText(QStringLiteral("f"));
            d->intervalEdit()->setText(QStringLiteral("1"));
            d->accept();
        });
        act(cmd::AnimationSettings)->trigger();
        QVERIFY2(message().contains(QStringLiteral("does not exist")), qPrintable(message()));

        // Save As and Write EPS name the file they wrote.
        const QString saved = work_->filePath(QStringLiteral("copy.grd"));
        dialogs_.answers.push_back(saved);
        act(cmd::FileSaveAs)->trigger();
        QVERIFY2(message().startsWith(QStringLiteral("Saved the universe as")), qPrintable(message()));
        QVERIFY(message().contains(QStringLiteral("copy.grd")));
        act(cmd::WriteDriveCoordinates)->trigger();
        QVERIFY2(message().contains(QStringLiteral("dump.eps")), qPrintable(message()));

        // A FIFO where a file is read or written would block the window
        // until some other program opened its far end; every one of these
        // returns at once with a message instead.
        const QString fifo = work_->filePath(QStringLiteral("pipe"));
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        memory(fifo);
        QVERIFY2(message().startsWith(QStringLiteral("Memory: cannot read memory file")), qPrintable(message()));
        dialogs_.answers.push_back(fifo);
        act(cmd::SaveTerminals)->trigger();
        QVERIFY2(message().startsWith(QStringLiteral("Could not write terminals")), qPrintable(message()));
        dialogs_.answers.push_back(fifo);
        act(cmd::SaveBitmap)->trigger();
        QVERIFY2(message().startsWith(QStringLiteral("Could not save the picture")), qPrintable(message()));
        dialogs_.answers.push_back(fifo);
        act(cmd::FileSaveAs)->trigger();
        QVERIFY2(!message().startsWith(QStringLiteral("Saved the universe as")), qPrintable(message()));
        QVERIFY(!frame_->openProjectFile(fifo));
        QVERIFY2(message().contains(QStringLiteral("not a regular file")), qPrintable(message()));
    }

    void animationRunReportsItsProgress() {
        // Two entries; their grids are missing, so no picture is written,
        // but the run still goes through and says where it stands.
        writeText(work_->filePath(QStringLiteral("run.asf")),
                  work_->path().toStdString() + " p\n" + work_->filePath(QStringLiteral("g0")).toStdString() +
                      " 0 0 5 0 0\n");
        QVERIFY(frame_->runAnimationFile(work_->filePath(QStringLiteral("run.asf"))));
        QVERIFY2(message().contains(QStringLiteral("1 entries")), qPrintable(message()));
        for (int i = 0; i < 400 && frame_->animationRunner().installed(); ++i) ticks(1);
        QVERIFY(!frame_->animationRunner().installed());
        QVERIFY2(message().startsWith(QStringLiteral("Animation: finished")), qPrintable(message()));
        QVERIFY(!frame_->runAnimationFile(work_->filePath(QStringLiteral("none.asf"))));
        QVERIFY2(message().startsWith(QStringLiteral("cannot read animation file")), qPrintable(message()));
    }

    void aFarViewOfTheBankDrawsWithADeepBuffer() {
        const QString folder = copyExample("membank");
        QVERIFY(frame_->openProjectFile(folder + QStringLiteral("/membank.prj")));
        CCellforgeView* v = frame_->activeView();
        v->parentWidget()->showMaximized();
        Camera c;
        c.x = 95.5f;
        c.y = -15.5f;
        c.z = 420.0f;
        v->setCamera(c);
        ticks(2);
        QVERIFY(v->depthBits() >= 32);
        const QImage img = v->grabFramebuffer();
        int lit = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) lit += (img.pixel(x, y) & 0xFFFFFF) != 0;
        QVERIFY(lit > 1000);
        QCOMPARE(size_t(v->lastSnapshot().drawnCellCount), size_t(49153));
    }
};

QTEST_MAIN(DesktopTest)
#include "desktop_test.moc"
