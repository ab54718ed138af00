// The desktop program as a user drives it: menus, commands, documents,
// views, dialogs opened by commands, frame output and animation runs. Runs in
// a real X server (Xvfb) with Mesa's software OpenGL.
#include <QAction>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <zlib.h>

#include <memory>

#include "gui_support.h"
#include "shell/animation_run.h"
#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/commands.h"
#include "shell/dialogs.h"
#include "shell/main_frame.h"

namespace {

QStringList itemTexts(QMenu* m) {
    QStringList out;
    if (!m) return {QStringLiteral("<no such menu>")};
    for (QAction* a : m->actions()) {
        if (a->isSeparator())
            out << QStringLiteral("-");
        else if (a->isVisible())
            out << a->text();
    }
    return out;
}

bool writeGz(const QString& path, const std::string& data) {
    gzFile gz = gzopen(path.toStdString().c_str(), "wb");
    if (!gz) return false;
    gzwrite(gz, data.data(), unsigned(data.size()));
    return gzclose(gz) == Z_OK;
}

QString canonical(const QString& p) { return QFileInfo(p).canonicalFilePath(); }

}  // namespace

class FrameTest : public QObject {
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
    // A project in the work folder naming its files relatively.
    QString makeProject() {
        writeText(work_->filePath(QStringLiteral("demo.grd")), gridText(demoCells()));
        writeText(work_->filePath(QStringLiteral("demo.uvw")), "1.5 2 30 10 20 first view\n");
        writeText(work_->filePath(QStringLiteral("demo.prj")), "demo.grd\ndemo.uvw\n");
        return work_->filePath(QStringLiteral("demo.prj"));
    }

private slots:
    void initTestCase() { isolateSettings(settingsDir_.path()); }

    void init() {
        // Each test starts with an empty recent-file list and a fresh window.
        QSettings(kSettingsOrganisation, kSettingsApplication).clear();
        work_ = std::make_unique<QTemporaryDir>();
        frame_ = std::make_unique<CMainFrame>();
        frame_->timer().stop();  // time is driven by the test through tick()
        frame_->setFileDialogs(&dialogs_);
        dialogs_.answers.clear();
        dialogs_.asked.clear();
        frame_->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
    }

    void cleanup() {
        frame_.reset();
        QDir::setCurrent(QDir::tempPath());
    }

    void startUpShowsTheNoDocumentMenus() {
        QCOMPARE(frame_->menuTitles(), QStringList({"&File", "&View", "&Help"}));
        QCOMPARE(itemTexts(frame_->menu(QStringLiteral("&File"))),
                 QStringList({"&Open...\tCtrl+O", "Run animation...", "-", "Recent File", "-", "E&xit"}));
        QCOMPARE(itemTexts(frame_->menu(QStringLiteral("&View"))), QStringList({"&Toolbar", "&Status Bar"}));
        QCOMPARE(itemTexts(frame_->menu(QStringLiteral("&Help"))), QStringList({"&About Cellforge..."}));
        QCOMPARE(act(cmd::FileOpen)->statusTip(), QStringLiteral("Open an existing document"));
        QCOMPARE(act(cmd::FileOpen)->toolTip(), QStringLiteral("Open"));
        QCOMPARE(act(cmd::Exit)->statusTip(), QStringLiteral("Quit the application; prompts to save documents"));
        QCOMPARE(act(cmd::FileOpen)->data().toInt(), 57601);
        QCOMPARE(act(cmd::RunAnimation)->data().toInt(), 32792);
        QCOMPARE(frame_->windowTitle(), QStringLiteral("Cellforge"));
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Ready"));
        QCOMPARE(frame_->statusPane(1)->width(), QGuiApplication::primaryScreen()->geometry().width() / 4);
        QVERIFY(frame_->timer().interval() == 50);

        // Toolbar order, with the buttons that have no handler disabled.
        QList<int> ids;
        for (QAction* a : frame_->toolBar()->actions()) ids << (a->isSeparator() ? 0 : a->data().toInt());
        QCOMPARE(ids, QList<int>({57601, 32785, 0, 57607, 0, 57664, 0, 32778, 32779, 32780, 32782, 0, 32783, 0, 32786, 0,
                                  32796}));
        QVERIFY(!act(cmd::NoHandlerButton)->isEnabled());
        QVERIFY(!act(cmd::FilePrint)->isEnabled());
        QVERIFY(!act(cmd::Go)->isEnabled());  // no document
        QVERIFY(frame_->toolBar()->isMovable());
        bool about = false;
        whenModal<AboutDialog>([&](AboutDialog* d) {
            about = d->windowTitle() == QStringLiteral("About Cellforge");
            d->accept();
        });
        act(cmd::About)->trigger();
        QVERIFY(about);
        QCOMPARE(frame_->toolBar()->allowedAreas(), Qt::AllToolBarAreas);
    }

    void newDocumentsAreNumberedAndSwitchTheMenus() {
        frame_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
        QTest::keyClick(frame_.get(), Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(frame_->documents().size(), size_t(1));
        QCOMPARE(frame_->documents()[0]->title(), QStringLiteral("Forge1"));
        QCOMPARE(frame_->windowTitle(), QStringLiteral("Cellforge - Forge1"));
        QCOMPARE(frame_->menuTitles(), QStringList({"&File", "&Edit", "&View", "Run", "&Tools", "&Window", "&Help"}));
        QCOMPARE(itemTexts(frame_->menu(QStringLiteral("&File"))),
                 QStringList({"&Open...\tCtrl+O", "&Close", "Save &As...", "Save terminals...", "-", "Write EPS...",
                              "-", "Recent File", "-", "E&xit"}));
        QCOMPARE(itemTexts(frame_->menu(QStringLiteral("Run"))),
                 QStringList({"Go", "Stop", "Step", "Go Slow", "-", "Settings...", "-", "Reset", "Step Back"}));
        QCOMPARE(itemTexts(frame_->menu(QStringLiteral("&Window"))),
                 QStringList({"&New Window", "&Cascade", "&Tile", "&Arrange Icons"}));
        QCOMPARE(act(cmd::WriteDriveCoordinates)->statusTip(),
                 QStringLiteral("Write graphics to encapsulated postscript file"));

        // Again, with the keyboard focus in the first document's view.
        QVERIFY(frame_->activeView());
        QTest::keyClick(frame_->activeView(), Qt::Key_N, Qt::ControlModifier);
        QCOMPARE(frame_->documents().size(), size_t(2));
        QCOMPARE(frame_->documents()[1]->title(), QStringLiteral("Forge2"));
        QCOMPARE(frame_->windowTitle(), QStringLiteral("Cellforge - Forge2"));

        // A second window on one document: two views, numbered titles.
        act(cmd::WindowNew)->trigger();
        CCellforgeDoc* second = frame_->documents()[1];
        QCOMPARE(second->views().size(), size_t(2));
        QVERIFY(second->views()[1]->parentWidget());
        QCOMPARE(second->views()[1]->parentWidget()->windowTitle(), QStringLiteral("Forge2:2"));

        // Closing an unedited document never asks, and the last close brings
        // the first menus back.
        MessageCatcher catcher;
        act(cmd::FileClose)->trigger();
        QCOMPARE(frame_->documents().size(), size_t(1));
        QCOMPARE(frame_->mdiArea()->subWindowList().size(), 1);
        act(cmd::FileClose)->trigger();
        QCOMPARE(frame_->documents().size(), size_t(0));
        QCOMPARE(frame_->menuTitles(), QStringList({"&File", "&View", "&Help"}));
        QCOMPARE(frame_->windowTitle(), QStringLiteral("Cellforge"));
        QCoreApplication::processEvents();
        QVERIFY(catcher.texts.empty());
        // The numbering goes on.
        act(cmd::FileNew)->trigger();
        QCOMPARE(frame_->documents()[0]->title(), QStringLiteral("Forge3"));
    }

    void closingTheLastWindowClosesTheDocument() {
        act(cmd::FileNew)->trigger();
        CCellforgeView* second = frame_->newWindow(frame_->documents()[0]);
        QCOMPARE(second->parentWidget()->windowTitle(), QStringLiteral("Forge1:2"));
        second->parentWidget()->close();
        QTRY_COMPARE(frame_->documents()[0]->views().size(), size_t(1));
        QCOMPARE(frame_->mdiArea()->subWindowList().size(), 1);
        QCOMPARE(frame_->documents().size(), size_t(1));
        QTRY_COMPARE(frame_->documents()[0]->firstView()->parentWidget()->windowTitle(), QStringLiteral("Forge1"));
        frame_->documents()[0]->firstView()->parentWidget()->close();
        QTRY_COMPARE(frame_->documents().size(), size_t(0));
        QCOMPARE(frame_->menuTitles(), QStringList({"&File", "&View", "&Help"}));
    }

    void runCommandsFollowTheWorker() {
        act(cmd::FileNew)->trigger();
        CCellforgeDoc* doc = frame_->documents()[0];
        auto states = [&] {
            frame_->updateCommandStates();
            return QList<bool>({act(cmd::Go)->isEnabled(), act(cmd::Stop)->isEnabled(), act(cmd::Step)->isEnabled(),
                                act(cmd::GoSlow)->isEnabled(), act(cmd::Settings)->isEnabled()});
        };
        QCOMPARE(states(), QList<bool>({true, false, true, true, true}));
        act(cmd::Go)->trigger();
        QCOMPARE(states(), QList<bool>({false, true, false, false, false}));
        ticks(3);
        act(cmd::Stop)->trigger();
        QCOMPARE(states(), QList<bool>({true, false, true, true, true}));
        act(cmd::GoSlow)->trigger();
        QCOMPARE(states(), QList<bool>({false, true, false, false, false}));
        act(cmd::Stop)->trigger();
        QCOMPARE(states(), QList<bool>({true, false, true, true, true}));

        // Step runs exactly one generation.
        doc->driver().waitUntilStopped();
        const uint32_t g = doc->universe().generation;
        act(cmd::Step)->trigger();
        doc->driver().waitUntilStopped();
        QCOMPARE(doc->universe().generation, g + 1);

        // In slow mode each drawn frame lets one generation through.
        act(cmd::GoSlow)->trigger();
        ticks(5);
        act(cmd::Stop)->trigger();
        doc->driver().waitUntilStopped();
        QVERIFY(doc->universe().generation > g + 1);
    }

    void keysMoveTheCameraOfTheFocusedView() {
        act(cmd::FileNew)->trigger();
        CCellforgeView* v = frame_->activeView();
        QVERIFY(v);
        QTest::keyClick(v, Qt::Key_Space);
        QCOMPARE(v->camera().z, 4.0f);
        QCOMPARE(v->camera().x, 0.0f);
        QTest::keyClick(v, Qt::Key_P);
        QTest::keyClick(v, Qt::Key_P, Qt::ShiftModifier);  // letters regardless of shift
        QCOMPARE(v->camera().az, 20.0f);
        QTest::keyClick(v, Qt::Key_O);
        QTest::keyClick(v, Qt::Key_Q);
        QTest::keyClick(v, Qt::Key_Q);
        QTest::keyClick(v, Qt::Key_A);
        QCOMPARE(v->camera().az, 10.0f);
        QCOMPARE(v->camera().alt, 10.0f);
        const Camera before = v->camera();
        QTest::keyClick(v, Qt::Key_Space);
        QTest::keyClick(v, Qt::Key_B);
        QVERIFY(std::abs(v->camera().x - before.x) < 1e-5f);
        QVERIFY(std::abs(v->camera().z - before.z) < 1e-5f);
        QTest::keyClick(v, Qt::Key_K);
        QCOMPARE(int(v->document()->universe().pulseRequest.load()), 1);  // the next generation takes it
        // A second window has a camera of its own.
        CCellforgeView* other = frame_->newWindow(v->document());
        QCOMPARE(other->camera().z, 5.0f);
    }

    void openProjectThroughTheCommandAndARecentEntry() {
        const QString project = makeProject();
        dialogs_.answers.push_back(project);
        act(cmd::FileOpen)->trigger();
        QCOMPARE(dialogs_.asked.size(), size_t(1));
        QCOMPARE(dialogs_.asked[0], QStringLiteral("open|prj|Cellforge project file (*.prj)|*.prj||"));
        QCOMPARE(frame_->documents().size(), size_t(1));
        CCellforgeDoc* doc = frame_->documents()[0];
        QCOMPARE(doc->title(), QStringLiteral("demo.grd"));
        QCOMPARE(frame_->windowTitle(), QStringLiteral("Cellforge - demo.grd"));
        QVERIFY(doc->engine().savedViews());
        QCOMPARE(doc->engine().savedViews()->views.size(), size_t(1));
        QCOMPARE(canonical(frame_->recentFiles().entry(1)), canonical(project));
        // The project, not the grid it names.
        QCOMPARE(frame_->recentFiles().size(), 1);
        // The recent entries are in the menu.
        frame_->menu(QStringLiteral("&File"))->aboutToShow();
        QVERIFY(act(cmd::RecentFile1)->isVisible());
        QVERIFY(act(cmd::RecentFile1)->text().startsWith(QStringLiteral("&1 ")));

        // Cancel does nothing.
        act(cmd::FileOpen)->trigger();
        QCOMPARE(frame_->documents().size(), size_t(1));

        act(cmd::FileClose)->trigger();
        QTemporaryDir elsewhere;
        QDir::setCurrent(elsewhere.path());
        act(cmd::RecentFile1)->trigger();
        QCOMPARE(frame_->documents().size(), size_t(1));
        QCOMPARE(canonical(QDir::currentPath()), canonical(work_->path()));
        QCOMPARE(frame_->documents()[0]->universe().partCount(), demoCells().size());
    }

    void commandLineStyleOpenAndAMissingGrid() {
        const QString project = makeProject();
        QVERIFY(frame_->openProjectFile(project));
        QCOMPARE(frame_->documents().size(), size_t(1));
        QVERIFY(!frame_->openProjectFile(work_->filePath(QStringLiteral("absent.prj"))));
        // A path that is not a grid opens nothing and leaves no window.
        QVERIFY(!frame_->openDocument(work_->filePath(QStringLiteral("demo.uvw"))));
        QCOMPARE(frame_->mdiArea()->subWindowList().size(), 1);
    }

    void placementConflictShowsAMessage() {
        std::vector<GridCell> cells = {{3, 3, 3, 1}, {3, 3, 3, 2}};
        writeText(work_->filePath(QStringLiteral("clash.grd")), gridText(cells));
        MessageCatcher catcher;
        CCellforgeDoc* doc = frame_->openDocument(work_->filePath(QStringLiteral("clash.grd")));
        QVERIFY(doc);
        QCOMPARE(catcher.texts.size(), size_t(1));
        QVERIFY(!catcher.texts[0].isEmpty());
        QCOMPARE(doc->universe().partCount(), size_t(1));
    }

    void statusLineAndAPictureWithColouredCubes() {
        frame_->openProjectFile(makeProject());
        CCellforgeView* v = frame_->activeView();
        QVERIFY(v);
        v->parentWidget()->showMaximized();
        act(cmd::CentreOfMass)->trigger();
        QVERIFY(std::abs(v->camera().x - 2.5f) < 1e-4f);
        QVERIFY(std::abs(v->camera().z - (50.0f + 0.0f)) < 1e-4f);
        Camera c = v->camera();
        c.z = 12;  // closer, so each cube covers many pixels
        v->setCamera(c);
        ticks(2);
        const QStringList fields = frame_->statusPane(1)->text().split(QLatin1Char(' '));
        QCOMPARE(fields.size(), 6);
        QCOMPARE(fields[1].toInt(), int(demoCells().size()));  // drawn cells
        QCOMPARE(fields[2].toUInt(), v->document()->universe().generation);

        QImage img = v->grabFramebuffer();
        QVERIFY(!img.isNull());
        int yellow = 0, blue = 0, other = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                QColor p = img.pixelColor(x, y);
                if (p.red() > 150 && p.green() > 150 && p.blue() < 100)
                    ++yellow;
                else if (p.blue() > 150 && p.red() < 100 && p.green() < 100)
                    ++blue;
                else if (p != Qt::black)
                    ++other;
            }
        QVERIFY2(yellow > 50 && blue > 50, qPrintable(QStringLiteral("yellow %1 blue %2").arg(yellow).arg(blue)));
        // Turning away leaves a black picture.
        c.az = 180;
        v->setCamera(c);
        QImage away = v->grabFramebuffer();
        for (int y = 0; y < away.height(); y += 3)
            for (int x = 0; x < away.width(); x += 3) QCOMPARE(away.pixelColor(x, y), QColor(Qt::black));
    }

    void settingsCommandAppliesFieldsAndAddWritesTheFile() {
        frame_->openProjectFile(makeProject());
        CCellforgeView* v = frame_->activeView();
        bool seen = false;
        whenModal<SettingsDialog>([&](SettingsDialog* d) {
            seen = true;
            QCOMPARE(d->viewList()->count(), 1);
            QCOMPARE(d->viewList()->item(0)->text(), QStringLiteral("x=1 y=2 z=30 alt=10 az=20 first view"));
            d->viewList()->setCurrentRow(0);
            d->edit(1010)->setText(QStringLiteral("second"));
            d->edit(1006)->setText(QStringLiteral("45"));
            QTest::mouseClick(d->addButton(), Qt::LeftButton);
            d->runUntilEdit()->setText(QStringLiteral("250"));
            d->accept();
        });
        act(cmd::Settings)->trigger();
        QVERIFY(seen);
        QCOMPARE(v->camera().x, 1.0f);
        QCOMPARE(v->camera().z, 30.0f);
        QCOMPARE(v->camera().az, 45.0f);
        QCOMPARE(v->description(), QStringLiteral("second"));
        QCOMPARE(v->document()->driver().runUntil.load(), 250u);
        const std::string file = readText(work_->filePath(QStringLiteral("demo.uvw")));
        QCOMPARE(QString::fromStdString(file).count(QLatin1Char('\n')), 2);
        QVERIFY(file.find("second") != std::string::npos);

        // Cancel keeps an added view but applies nothing else.
        whenModal<SettingsDialog>([&](SettingsDialog* d) {
            d->edit(1002)->setText(QStringLiteral("99"));
            d->edit(1010)->setText(QStringLiteral("third"));
            QTest::mouseClick(d->addButton(), Qt::LeftButton);
            d->reject();
        });
        act(cmd::Settings)->trigger();
        QCOMPARE(v->camera().x, 1.0f);
        QCOMPARE(v->document()->engine().savedViews()->views.size(), size_t(3));
    }

    void saveAsWritesAGridUnderAnyName() {
        frame_->openProjectFile(makeProject());
        const QString txt = work_->filePath(QStringLiteral("copy.txt"));
        dialogs_.answers.push_back(txt);
        act(cmd::FileSaveAs)->trigger();
        QVERIFY(QFile::exists(txt));
        const QString text = QString::fromStdString(readText(txt));
        QVERIFY(text.contains(QStringLiteral("2 2 3 \n")));
        // The written grid reads back with every part (through a .grd name).
        QFile::copy(txt, work_->filePath(QStringLiteral("copy.grd")));
        CCellforgeDoc* back = frame_->openDocument(work_->filePath(QStringLiteral("copy.grd")));
        QVERIFY(back);
        QCOMPARE(back->universe().partCount(), demoCells().size());
        // Opening the .txt as a document fails.
        QVERIFY(!frame_->openDocument(txt));
    }

    void frameOutputWritesNumberedBitmaps() {
        frame_->openProjectFile(makeProject());
        CCellforgeView* v = frame_->activeView();
        QTemporaryDir out;
        whenModal<AnimationDialog>([&](AnimationDialog* d) {
            d->folderEdit()->setText(out.path());
            d->prefixEdit()->setText(QStringLiteral("f"));
            d->intervalEdit()->setText(QStringLiteral("1"));
            d->accept();
        });
        act(cmd::AnimationSettings)->trigger();
        QCOMPARE(v->frameOutput().interval, 1);
        ticks(2);  // stopped: generation 0 is saved once, then nothing more
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("f000000.bmp"))));
        QVERIFY(!QFile::exists(out.filePath(QStringLiteral("f000001.bmp"))));
        act(cmd::Step)->trigger();
        v->document()->driver().waitUntilStopped();
        ticks(2);
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("f000001.bmp"))));
        QImage img(out.filePath(QStringLiteral("f000001.bmp")));
        QVERIFY(!img.isNull());
        QCOMPARE(img.size(), v->size() * v->devicePixelRatio());
    }

    void animationRunSavesOnePicturePerEntryAndKeepsTheGrids() {
        QTemporaryDir grids, out;
        const QString g0 = grids.filePath(QStringLiteral("g0000"));
        const QString g1 = grids.filePath(QStringLiteral("g0001"));
        QVERIFY(writeGz(g0 + ".gz", gridText(demoCells())));
        QVERIFY(writeGz(g1 + ".gz", gridText({{0, 0, 0, 5, 0, 1}, {0, 0, 1, 1}})));
        // A user file already called g0001.grd must survive the run.
        writeText(g1 + ".grd", "keep me");
        const QString plan = grids.filePath(QStringLiteral("run.asf"));
        writeText(plan, (out.path() + " shot\n" + g0 + " 0 0 15 0 0\n" + grids.filePath("missing") +
                         " 0 0 15 0 0\n" + g1 + " 0 0 10 0 0\n")
                            .toStdString());
        dialogs_.answers.push_back(plan);
        act(cmd::RunAnimation)->trigger();
        QCOMPARE(dialogs_.asked[0], QStringLiteral("open|asf|Animation specification file (*.asf)|*.asf||"));
        QVERIFY(frame_->animationRunner().installed());
        int n = 0;
        while (frame_->animationRunner().installed() && n < 500) {
            ticks(1);
            ++n;
        }
        QVERIFY(!frame_->animationRunner().installed());
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("shot000000.bmp"))));
        QVERIFY(!QFile::exists(out.filePath(QStringLiteral("shot000001.bmp"))));  // skipped entry
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("shot000002.bmp"))));
        // The account says what was written and names the entry that was not.
        const QString said = frame_->statusBar()->currentMessage();
        QVERIFY2(said.startsWith(QStringLiteral("Animation: finished, 2 of 3 pictures written")), qPrintable(said));
        QVERIFY2(said.contains(QStringLiteral("missing: cannot read ") + grids.filePath("missing") + QStringLiteral(".gz")),
                 qPrintable(said));
        QCOMPARE(frame_->animationRunner().picturesWritten(), size_t(2));
        QCOMPARE(frame_->animationRunner().missingEntries().size(), size_t(1));
        QVERIFY(QFile::exists(g0 + ".gz"));
        QVERIFY(QFile::exists(g1 + ".gz"));
        QVERIFY(!QFile::exists(g0 + ".grd"));
        QCOMPARE(readText(g1 + ".grd"), std::string("keep me"));
        QCOMPARE(frame_->documents().size(), size_t(0));
        QVERIFY(frame_->recentFiles().entries().isEmpty());
        QImage shot(out.filePath(QStringLiteral("shot000000.bmp")));
        QVERIFY(!shot.isNull());
        int lit = 0;
        for (int y = 0; y < shot.height(); ++y)
            for (int x = 0; x < shot.width(); ++x) lit += shot.pixelColor(x, y) != Qt::black;
        QVERIFY(lit > 100);
    }

    void twoEntryRunAndAnEmptyRunList() {
        QTemporaryDir grids, out;
        for (int i = 0; i < 2; ++i)
            QVERIFY(writeGz(grids.filePath(QStringLiteral("g%1.gz").arg(i)), gridText(demoCells())));
        const QString plan = grids.filePath(QStringLiteral("two.asf"));
        writeText(plan, (out.path() + " prefix " + grids.filePath("g0") + " 0 0 15 0 0 " + grids.filePath("g1") +
                         " 1 0 15 0 10")
                            .toStdString());
        QVERIFY(frame_->runAnimationFile(plan));
        for (int n = 0; frame_->animationRunner().installed() && n < 500; ++n) ticks(1);
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("prefix000000.bmp"))));
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("prefix000001.bmp"))));
        QVERIFY(QFile::exists(grids.filePath(QStringLiteral("g0.gz"))));
        QVERIFY(QFile::exists(grids.filePath(QStringLiteral("g1.gz"))));

        writeText(grids.filePath(QStringLiteral("empty.asf")), "onlyfolder");
        QVERIFY(frame_->runAnimationFile(grids.filePath(QStringLiteral("empty.asf"))));
        ticks(1);
        QVERIFY(!frame_->animationRunner().installed());
        QVERIFY(!frame_->runAnimationFile(grids.filePath(QStringLiteral("none.asf"))));
    }

    void pictureAndCoordinateOutputCommands() {
        std::vector<GridCell> cells = demoCells();
        cells.push_back({2, 2, 0, 10, 0, 1});  // a Drive
        writeText(work_->filePath(QStringLiteral("drive.grd")), gridText(cells));
        writeText(work_->filePath(QStringLiteral("drive.prj")), "drive.grd\n");
        QVERIFY(frame_->openProjectFile(work_->filePath(QStringLiteral("drive.prj"))));
        act(cmd::CentreOfMass)->trigger();
        ticks(2);

        const QString bmp = work_->filePath(QStringLiteral("picture.bmp"));
        dialogs_.answers.push_back(bmp);
        act(cmd::SaveBitmap)->trigger();
        QCOMPARE(dialogs_.asked.back(), QStringLiteral("save|bmp|Bitmap Files (*.bmp)|*.bmp||"));
        QImage img(bmp);
        QVERIFY(!img.isNull());
        QCOMPARE(img.size(), frame_->activeView()->size() * frame_->activeView()->devicePixelRatio());
        dialogs_.answers.push_back(QString());  // cancel writes nothing
        act(cmd::SaveBitmap)->trigger();

        // "Write EPS..." lists the one Drive in view, in the current folder.
        act(cmd::WriteDriveCoordinates)->trigger();
        const QString dump = QString::fromStdString(readText(work_->filePath(QStringLiteral("dump.eps"))));
        QCOMPARE(dump.count(QLatin1Char('\n')), 1);
        QCOMPARE(dump.split(QLatin1Char(' ')).size(), 2);
    }

    void promptsGoToTheStatusBar() {
        act(cmd::FileOpen)->showStatusText(frame_.get());
        QCOMPARE(frame_->statusBar()->currentMessage(), QStringLiteral("Open an existing document"));
        frame_->statusBar()->clearMessage();
        QVERIFY(frame_->statusPane(0)->isVisible());
        QCOMPARE(frame_->statusPane(0)->text(), QStringLiteral("Ready"));
        act(cmd::ViewStatusBar)->trigger();
        QVERIFY(!frame_->statusBar()->isVisible());
        act(cmd::ViewToolbar)->trigger();
        QVERIFY(!frame_->toolBar()->isVisible());
        act(cmd::ViewToolbar)->trigger();
        QVERIFY(frame_->toolBar()->isVisible());
        QVERIFY(act(cmd::ViewToolbar)->isChecked());
    }

    void memoryCommandWritesTheImageIntoTheModules() {
        // Position 0 of bit lines 0 and 1 of module 0, at the corner (0, 0, 0).
        writeText(work_->filePath(QStringLiteral("mem.grd")), gridText({{0, 0, 0, 2, 3, 0}, {1, 0, 0, 1, 0, 1}}));
        writeText(work_->filePath(QStringLiteral("image.txt")), "unsigned char image[] = { 1, 2, };\n");
        CCellforgeDoc* doc = frame_->openDocument(work_->filePath(QStringLiteral("mem.grd")));
        QVERIFY(doc);
        whenModal<MemoryDialog>([&](MemoryDialog* d) {
            d->edit(1021)->setText(work_->filePath(QStringLiteral("image.txt")));
            d->accept();
        });
        act(cmd::WriteMemory)->trigger();
        CellRef nor = doc->universe().findCell(0, 0, 0);
        CellRef wire = doc->universe().findCell(1, 0, 0);
        QVERIFY(nor && wire);
        QCOMPARE(int(nor.core().outputs), 8);
        QCOMPARE(int(wire.core().outputs), 255 & ~(1 << 2));

        // While the universe runs the write still goes through (the worker is
        // held for it); the parts' own rules take over afterwards.
        act(cmd::Go)->trigger();
        whenModal<MemoryDialog>([&](MemoryDialog* d) {
            d->edit(1021)->setText(work_->filePath(QStringLiteral("image.txt")));
            d->accept();
        });
        act(cmd::WriteMemory)->trigger();
        act(cmd::Stop)->trigger();
        doc->driver().waitUntilStopped();

        // Save terminals asks with the terminal filter; without a table the file is empty.
        const QString trm = work_->filePath(QStringLiteral("out.trm"));
        dialogs_.answers.push_back(trm);
        act(cmd::SaveTerminals)->trigger();
        QCOMPARE(dialogs_.asked.back(), QStringLiteral("save|trm|Terminal Files (*.trm)|*.trm||"));
        QVERIFY(QFile::exists(trm));
    }

    void aRunGoesOnThroughAConflictMessage() {
        // Ticks keep arriving while the message box of step 2 is open.
        frame_->timer().start(50);
        QTemporaryDir grids, out;
        QVERIFY(writeGz(grids.filePath(QStringLiteral("c.gz")), gridText({{1, 1, 1, 1}, {1, 1, 1, 2}})));
        QVERIFY(writeGz(grids.filePath(QStringLiteral("d.gz")), gridText(demoCells())));
        const QString plan = grids.filePath(QStringLiteral("c.asf"));
        writeText(plan, (out.path() + " c " + grids.filePath("c") + " 0 0 9 0 0 " + grids.filePath("d") + " 0 0 9 0 0")
                            .toStdString());
        MessageCatcher catcher;
        QVERIFY(frame_->runAnimationFile(plan));
        QTRY_VERIFY_WITH_TIMEOUT(!frame_->animationRunner().installed(), 60000);
        QCOMPARE(catcher.texts.size(), size_t(1));
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("c000000.bmp"))));
        QVERIFY(QFile::exists(out.filePath(QStringLiteral("c000001.bmp"))));
        QCOMPARE(frame_->documents().size(), size_t(0));
    }

    void exitClosesEverythingWithoutAsking() {
        act(cmd::FileNew)->trigger();
        act(cmd::Go)->trigger();  // a running worker must be stopped, not waited on forever
        MessageCatcher catcher;
        act(cmd::Exit)->trigger();
        QCOMPARE(frame_->documents().size(), size_t(0));
        QVERIFY(!frame_->isVisible());
        QCoreApplication::processEvents();
        QVERIFY(catcher.texts.empty());
    }
};

QTEST_MAIN(FrameTest)
#include "frame_test.moc"
