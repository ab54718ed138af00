// What a user meets while working with a machine: Fit All after a part ran
// away, the run-until limit, the recent-file list, frame output that cannot
// be written, picture formats, the status panes, window arrangement, why a
// save failed, the keyboard after opening, and the project window's size.
// Runs under Xvfb with software GL.
#include <QAction>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QRandomGenerator>
#include <QStatusBar>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <memory>

#include "gui_support.h"
#include "session/open_table.h"
#include "session/session.h"
#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/elided_label.h"
#include "shell/main_frame.h"
#include "universe/universe.h"
#include "view/navigation.h"
#include "view/snapshot.h"

namespace {

// Share of the picture's pixels that are not black.
double litShare(const QImage& img) {
    qint64 lit = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) lit += (img.pixel(x, y) & 0xFFFFFF) != 0;
    return double(lit) / double(std::max<qint64>(1, qint64(img.width()) * img.height()));
}

SceneCell cellAt(int32_t x, int32_t y, int32_t z) {
    SceneCell c{};
    c.x = x;
    c.y = y;
    c.z = z;
    c.record = 1;
    return c;
}

bool contains(const Bounds& b, const SceneCell& c) {
    return c.x >= b.lo[0] && c.x <= b.hi[0] && c.y >= b.lo[1] && c.y <= b.hi[1] && c.z >= b.lo[2] && c.z <= b.hi[2];
}

// File dialogs that show a real modal dialog for a moment, as the real ones
// do, so that focus and activation go where they go after a dialog.
class RealModalDialogs : public FileDialogs {
public:
    QString answer;
    std::optional<QString> openFile(QWidget* parent, const QString&, const QString&) override { return show(parent); }
    std::optional<QString> saveFile(QWidget* parent, const QString&, const QString&) override { return show(parent); }

private:
    std::optional<QString> show(QWidget* parent) {
        QDialog d(parent);
        auto* edit = new QLineEdit(&d);
        edit->setFocus();
        QTimer::singleShot(200, &d, &QDialog::accept);
        d.exec();
        return answer;
    }
};

}  // namespace

class WorkflowTest : public QObject {
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
    // A project `name`.prj in the work folder with the given cells.
    QString project(const QString& name, const std::vector<GridCell>& cells) {
        writeText(work_->filePath(name + QStringLiteral(".grd")), gridText(cells));
        writeText(work_->filePath(name + QStringLiteral(".prj")), (name + QStringLiteral(".grd\n")).toStdString());
        return work_->filePath(name + QStringLiteral(".prj"));
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

    // The shared table of paths (tests/session/open_table.txt): for every
    // fault the session names, the desktop's open path says the same words.
    // File > Open reads any chosen file as a project, so grid rows are read
    // as projects here, and the files a project names are only reported.
    void openPathsSayWhatTheSessionSays() {
        const std::vector<OpenCase> cases = readOpenTable(OPEN_TABLE);
        QVERIFY(cases.size() >= 15);
        int compared = 0;
        for (const OpenCase& c : cases) {
            const std::filesystem::path folder = std::filesystem::path(work_->path().toStdString()) / "case";
            const std::string path = makeOpenCase(c, folder);
            OpenProblem problem;
            std::unique_ptr<Session> s = Session::open(path, {}, problem);
            const std::string said = s ? s->loadNote().message() : problem.message();
            const bool sessionOpens = s != nullptr;
            s.reset();
            const bool pathFault = problem.path == path && problem.fault != OpenFault::WrongSuffix &&
                                   problem.fault != OpenFault::NoGrid;
            const bool projectRow = c.path.size() > 4 && (c.path.substr(c.path.size() - 4) == ".prj" ||
                                                          c.path.substr(c.path.size() - 4) == ".PRJ");
            const bool opened = frame_->openProjectFile(QString::fromStdString(path));
            QCoreApplication::processEvents();
            const std::string shown = message().toStdString();
            if (pathFault && !sessionOpens) {
                // What stands at the path: refused, in the session's words
                // (which name the file as a project here).
                QVERIFY2(!opened, c.name.c_str());
                QVERIFY2(shown.find(problem.message().substr(problem.message().find('\''))) != std::string::npos,
                         (c.name + ": " + shown).c_str());
                ++compared;
            } else if (projectRow && !said.empty()) {
                // A named file at fault, or a grid read only in part: the
                // project opens as the loader allows and says why.
                QVERIFY2(shown.find(said) != std::string::npos, (c.name + ": " + shown + " / " + said).c_str());
                ++compared;
            }
            while (!frame_->documents().empty()) frame_->closeDocument(frame_->documents().back());
        }
        QVERIFY(compared >= 10);
    }

    // The bulk box holds every part of a dense cluster, whatever its shape,
    // and none of the parts that ran far away; without runaways it is the
    // box around everything.
    void bulkBoxKeepsTheClusterAndDropsRunaways() {
        QRandomGenerator rng(17);
        for (int round = 0; round < 40; ++round) {
            SceneSnapshot s;
            const int n = 20 + int(rng.bounded(400));
            const int sx = 1 + int(rng.bounded(300)), sy = 1 + int(rng.bounded(40)), sz = 1 + int(rng.bounded(40));
            for (int i = 0; i < n; ++i)
                s.cells.push_back(cellAt(int(rng.bounded(sx)) - 50, int(rng.bounded(sy)), int(rng.bounded(sz))));
            Bounds all, bulk;
            size_t outside = 99;
            QVERIFY(drawnBounds(s, all));
            QVERIFY(bulkBounds(s, bulk, outside));
            QCOMPARE(outside, size_t(0));
            for (int i = 0; i < 3; ++i) {
                QCOMPARE(bulk.lo[i], all.lo[i]);
                QCOMPARE(bulk.hi[i], all.hi[i]);
            }
            const size_t cluster = s.cells.size();
            const int runaways = 1 + int(rng.bounded(std::max(1, n / 25)));
            for (int i = 0; i < runaways; ++i)
                s.cells.push_back(cellAt(800000 + int(rng.bounded(1000)), int(rng.bounded(sy)), -int(rng.bounded(9000))));
            QVERIFY(bulkBounds(s, bulk, outside));
            QCOMPARE(outside, size_t(runaways));
            for (size_t i = 0; i < s.cells.size(); ++i)
                QCOMPARE(contains(bulk, s.cells[i]), i < cluster);
        }
        SceneSnapshot empty;
        Bounds b;
        size_t outside = 0;
        QVERIFY(!bulkBounds(empty, b, outside));
    }

    // A Drive that drove far off must not shrink the machine to nothing:
    // Home frames the machine (read back from the picture) and says that
    // parts are outside; Home again, or Shift+Home, frames everything.
    void homeFramesTheMachineNotTheRunaway() {
        std::vector<GridCell> cells;
        for (int x = 0; x < 12; ++x)
            for (int y = 0; y < 6; ++y) cells.push_back({x, y, 0, 1 + (x + y) % 2, 0, 1});
        cells.push_back({800000, 3, -40000, 10, 0, 1});  // the Drive, long gone
        QVERIFY(frame_->openProjectFile(project(QStringLiteral("runaway"), cells)));
        CCellforgeView* v = frame_->activeView();
        QVERIFY(v);
        ticks(2);
        act(cmd::FitAll)->trigger();
        QVERIFY2(message().contains(QStringLiteral("runaway")), qPrintable(message()));
        ticks(2);
        const double bulkShare = litShare(v->grabFramebuffer());
        QVERIFY2(bulkShare > 0.05, qPrintable(QString::number(bulkShare)));
        const Camera bulkEye = v->camera();

        act(cmd::FitAll)->trigger();  // again: everything
        ticks(2);
        const Camera allEye = v->camera();
        QVERIFY(allEye.x != bulkEye.x || allEye.z != bulkEye.z);
        QVERIFY(litShare(v->grabFramebuffer()) < bulkShare);

        act(cmd::FitAll)->trigger();  // and once more: the machine again
        QCOMPARE(v->camera().x, bulkEye.x);
        act(cmd::FitEverything)->trigger();
        QCOMPARE(v->camera().x, allEye.x);
        QCOMPARE(v->camera().z, allEye.z);
        QCOMPARE(act(cmd::FitEverything)->shortcut(), QKeySequence(Qt::SHIFT | Qt::Key_Home));
    }

    // At the limit the worker stops itself and would stop again at once, so
    // Go, Step and Go Slow go off and the status bar says why; a higher
    // limit lets it go on. A limit set below the generation says so too.
    void runUntilLimitIsAnnouncedAndHoldsTheRunKeys() {
        QVERIFY(frame_->openProjectFile(project(QStringLiteral("limit"), demoCells())));
        CCellforgeDoc* doc = frame_->activeDocument();
        doc->engine().setRunUntil(5);
        act(cmd::Go)->trigger();
        doc->driver().waitUntilStopped();
        ticks(1);
        for (int id : {int(cmd::Go), int(cmd::Step), int(cmd::GoSlow)}) QVERIFY2(!act(id)->isEnabled(), qPrintable(QString::number(id)));
        QVERIFY(act(cmd::Settings)->isEnabled());
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Stopped at 5"));
        QVERIFY2(message().contains(QStringLiteral("run-until limit of 5")), qPrintable(message()));

        whenModal<SettingsDialog>([](SettingsDialog* d) {
            d->runUntilEdit()->setText(QStringLiteral("9"));
            d->accept();
        });
        act(cmd::Settings)->trigger();
        QVERIFY(act(cmd::Go)->isEnabled());
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Stopped"));
        act(cmd::Go)->trigger();
        doc->driver().waitUntilStopped();
        uint32_t generation = 0;
        doc->engine().withUniverse([&](Universe& u) { generation = u.generation; });
        QCOMPARE(generation, 9u);

        frame_->statusBar()->clearMessage();
        ticks(1);
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Stopped at 9"));
        whenModal<SettingsDialog>([](SettingsDialog* d) {
            d->runUntilEdit()->setText(QStringLiteral("3"));
            d->accept();
        });
        act(cmd::Settings)->trigger();
        QVERIFY(!act(cmd::Go)->isEnabled());
        QVERIFY2(message().contains(QStringLiteral("run-until limit of 3")), qPrintable(message()));
    }

    // Only what the user opened goes on the list, and only when it opened.
    void recentListHoldsOnlyOpenedProjects() {
        const QString good = project(QStringLiteral("good"), demoCells());
        QVERIFY(frame_->openProjectFile(good));
        QCOMPARE(frame_->recentFiles().entries(), QStringList({QFileInfo(good).absoluteFilePath()}));
        writeText(work_->filePath(QStringLiteral("lost.prj")), "lost.grd\n");
        writeText(work_->filePath(QStringLiteral("nogrid.prj")), "a.trm\n");
        QVERIFY(QDir(work_->path()).mkdir(QStringLiteral("dir.grd")));
        writeText(work_->filePath(QStringLiteral("dir.prj")), "dir.grd\n");
        for (const char* p : {"lost.prj", "nogrid.prj", "dir.prj"}) {
            frame_->openProjectFile(work_->filePath(QLatin1String(p)));
            QCOMPARE(frame_->recentFiles().size(), 1);
        }
        // A recent entry opened again stays the only entry.
        QVERIFY(frame_->openRecentProject(1));
        QCOMPARE(frame_->recentFiles().size(), 1);

        // Open reads whatever file was chosen as a project, whatever its
        // name: a grid names no grid file and opens nothing, a text file
        // that names one opens it and goes on the list.
        const QString grid = work_->filePath(QStringLiteral("good.grd"));
        frame_->openProjectFile(grid);
        QVERIFY2(message().contains(QStringLiteral("names no grid file")), qPrintable(message()));
        QCOMPARE(frame_->recentFiles().size(), 1);
        writeText(work_->filePath(QStringLiteral("notes.txt")), "good.grd\n");
        QVERIFY(frame_->openProjectFile(work_->filePath(QStringLiteral("notes.txt"))));
        QCOMPARE(frame_->recentFiles().size(), 2);
    }

    // Output into a folder that is not there fails once, switches off and
    // says so; the dialog then shows the present setting.
    void frameOutputSwitchesOffAfterAFailure() {
        QVERIFY(frame_->openProjectFile(project(QStringLiteral("frames"), demoCells())));
        CCellforgeView* v = frame_->activeView();
        const QString missing = work_->filePath(QStringLiteral("no-such-folder"));
        whenModal<AnimationDialog>([&](AnimationDialog* d) {
            d->folderEdit()->setText(missing);
            d->prefixEdit()->setText(QStringLiteral("f"));
            d->intervalEdit()->setText(QStringLiteral("1"));
            d->accept();
        });
        act(cmd::AnimationSettings)->trigger();
        QCOMPARE(v->frameOutput().interval, 1);
        act(cmd::Step)->trigger();
        v->document()->driver().waitUntilStopped();
        v->renderNow();
        QCoreApplication::processEvents();
        QCOMPARE(v->frameOutput().interval, 0);
        QVERIFY2(message().contains(QStringLiteral("frame output is off")) && message().contains(QStringLiteral("does not exist")),
                 qPrintable(message()));
        frame_->statusBar()->clearMessage();
        act(cmd::Step)->trigger();
        v->document()->driver().waitUntilStopped();
        v->renderNow();
        QCoreApplication::processEvents();
        QVERIFY2(message().isEmpty(), qPrintable(message()));  // said once

        QString shownFolder, shownInterval;
        whenModal<AnimationDialog>([&](AnimationDialog* d) {
            shownFolder = d->folderEdit()->text();
            shownInterval = d->intervalEdit()->text();
            d->reject();
        });
        act(cmd::AnimationSettings)->trigger();
        QCOMPARE(shownFolder, missing);
        QCOMPARE(shownInterval, QString());  // off
    }

    // The name decides the format, in any case of the suffix.
    void saveBitmapWritesTheFormatItsNameSays() {
        QVERIFY(frame_->openProjectFile(project(QStringLiteral("pic"), demoCells())));
        ticks(2);
        for (const char* name : {"a.png", "b.PNG", "c.bmp", "d.picture"}) {
            const QString path = work_->filePath(QLatin1String(name));
            dialogs_.answers.push_back(path);
            act(cmd::SaveBitmap)->trigger();
            QVERIFY2(message().startsWith(QStringLiteral("Saved the picture")), qPrintable(message()));
            const std::string bytes = readText(path);
            const bool png = QString::fromLatin1(name).endsWith(QStringLiteral(".png"), Qt::CaseInsensitive);
            QVERIFY2(png ? bytes.rfind("\x89PNG", 0) == 0 : bytes.rfind("BM", 0) == 0, name);
            QVERIFY(!QImage(path, png ? "PNG" : "BMP").isNull());
        }
    }

    // The hover line has a pane of its own that loses its middle when too
    // long; the run state stays in sight beside it; moving the camera takes
    // the line away.
    void hoverPaneElidesAndTheStateStaysVisible() {
        QVERIFY(frame_->openProjectFile(project(QStringLiteral("hover"), demoCells())));
        CCellforgeView* v = frame_->activeView();
        v->setCamera(cameraAt(3, 0, 3, 0, 0));
        ticks(1);
        const QPoint centre(v->width() / 2, v->height() / 2);
        QMouseEvent move(QEvent::MouseMove, QPointF(centre), QPointF(v->mapToGlobal(centre)), Qt::NoButton, Qt::NoButton,
                         Qt::NoModifier);
        QApplication::sendEvent(v, &move);
        ticks(2);
        QVERIFY2(frame_->hoverText().startsWith(QStringLiteral("(3, 0, 0) Conductor")), qPrintable(frame_->hoverText()));
        QCOMPARE(frame_->statusPane(3)->text(), frame_->hoverText());
        act(cmd::Go)->trigger();
        frame_->showTransient(QStringLiteral("a file operation's message"));
        ticks(1);
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Running"));
        QVERIFY(frame_->statusPane(0)->isVisible());
        act(cmd::Stop)->trigger();
        v->document()->driver().waitUntilStopped();

        v->setCamera(cameraAt(3, 0, 40, 0, 0));
        QVERIFY2(frame_->hoverText().isEmpty(), qPrintable(frame_->hoverText()));

        auto* pane = qobject_cast<ElidedLabel*>(frame_->statusPane(3));
        QVERIFY(pane);
        const QString longLine = QStringLiteral("(123456, 7, 8) NorGate  front +x side +y") + QString(300, QLatin1Char('.')) +
                                 QStringLiteral("terminal probe.tap");
        frame_->showHover(longLine);
        QCoreApplication::processEvents();
        const QString shown = pane->shownText();
        QVERIFY2(shown.size() < longLine.size(), qPrintable(shown));
        QVERIFY2(shown.startsWith(QStringLiteral("(123")) && shown.endsWith(QStringLiteral("tap")), qPrintable(shown));
        QCOMPARE(pane->toolTip(), longLine);
    }

    // Every title bar stays in sight after Cascade; the Window menu lists
    // the windows and brings the chosen one forward.
    void cascadeKeepsTitleBarsAndTheWindowMenuListsWindows() {
        // More windows than fit diagonally in the area.
        CCellforgeDoc* doc = frame_->newDocument();
        for (int i = 0; i < 12; ++i) frame_->newWindow(doc);
        frame_->newDocument();
        act(cmd::WindowCascade)->trigger();
        QCoreApplication::processEvents();
        const auto windows = frame_->mdiArea()->subWindowList(QMdiArea::StackingOrder);
        QCOMPARE(windows.size(), 14);
        const QRect area = frame_->mdiArea()->viewport()->rect();
        for (int i = 0; i < windows.size(); ++i) {
            const QRect g = windows[i]->geometry();
            const QPoint title(g.x() + std::min(g.width() / 2, 60), g.y() + 3);
            QVERIFY(area.contains(title));
            for (int j = i + 1; j < windows.size(); ++j)
                QVERIFY2(!windows[j]->geometry().contains(title), qPrintable(QStringLiteral("%1 under %2").arg(i).arg(j)));
            QVERIFY(windows[i]->widget()->width() >= 160 && windows[i]->widget()->height() >= 120);
        }
        frame_->rebuildWindowList();
        const auto& list = frame_->windowListActions();
        QCOMPARE(int(list.size()), 15);  // a separator and fourteen windows
        QVERIFY(list[0]->isSeparator());
        const auto created = frame_->mdiArea()->subWindowList(QMdiArea::CreationOrder);
        QVERIFY(list[3]->text().contains(created[2]->windowTitle()));
        list[3]->trigger();
        QCOMPARE(frame_->mdiArea()->currentSubWindow(), created[2]);
    }

    // Save As says why it could not save.
    void saveAsSaysWhy() {
        QVERIFY(frame_->openProjectFile(project(QStringLiteral("save"), demoCells())));
        dialogs_.answers.push_back(work_->filePath(QStringLiteral("nowhere/x.grd")));
        act(cmd::FileSaveAs)->trigger();
        QVERIFY2(message().contains(QStringLiteral("does not exist")), qPrintable(message()));
        const QString fifo = work_->filePath(QStringLiteral("pipe.grd"));
        QCOMPARE(::mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
        dialogs_.answers.push_back(fifo);
        act(cmd::FileSaveAs)->trigger();
        QVERIFY2(message().endsWith(QStringLiteral("it is not a regular file")), qPrintable(message()));
        if (::geteuid() != 0) {  // permissions do not bind the superuser
            const QString locked = work_->filePath(QStringLiteral("locked"));
            QVERIFY(QDir(work_->path()).mkdir(QStringLiteral("locked")));
            QCOMPARE(::chmod(locked.toLocal8Bit().constData(), 0500), 0);
            dialogs_.answers.push_back(locked + QStringLiteral("/x.grd"));
            act(cmd::FileSaveAs)->trigger();
            QVERIFY2(message().contains(QStringLiteral("permission denied")), qPrintable(message()));
            ::chmod(locked.toLocal8Bit().constData(), 0700);
        }
    }

    // A project opens in a window that fills the area, and the keyboard
    // goes to its view: Home and F5 work without a click.
    void openedProjectFillsTheAreaAndHasTheKeyboard() {
        frame_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
        dialogs_.answers.push_back(project(QStringLiteral("focus"), demoCells()));
        act(cmd::FileOpen)->trigger();
        QCoreApplication::processEvents();
        CCellforgeView* v = frame_->activeView();
        QVERIFY(v);
        QCOMPARE(v->parentWidget()->geometry(), QRect(QPoint(0, 0), frame_->mdiArea()->viewport()->size()));
        QCOMPARE(frame_->windowTitle(), QStringLiteral("Cellforge - focus.grd"));
        // and keeps filling it when the main window changes size.
        frame_->resize(frame_->size() + QSize(40, 30));
        QCoreApplication::processEvents();
        QCOMPARE(v->parentWidget()->geometry(), QRect(QPoint(0, 0), frame_->mdiArea()->viewport()->size()));
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(v));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_F5);
        QVERIFY(v->document()->engine().canStop());
        act(cmd::Stop)->trigger();
        v->document()->driver().waitUntilStopped();
        // A second project, chosen in a real modal dialog, while the first
        // has the keys: when the dialog has gone, the new view has them.
        RealModalDialogs modal;
        modal.answer = project(QStringLiteral("second"), demoCells());
        frame_->setFileDialogs(&modal);
        act(cmd::FileOpen)->trigger();
        QVERIFY(frame_->activeView() != v);
        QTest::qWait(300);
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(frame_->activeView()));
        frame_->setFileDialogs(&dialogs_);
    }
};

QTEST_MAIN(WorkflowTest)
#include "workflow_test.moc"
