// Building and changing machines on the desktop: selecting, erasing,
// placing, the clipboard between documents, undo and redo, reset, step back
// and the timeline slider, and the question whether to save an edited
// document. Runs under Xvfb with software GL; where the picture is the
// point the view's pixels are read back.
#include <QAbstractButton>
#include <QAction>
#include <QButtonGroup>
#include <QClipboard>
#include <QImage>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenu>
#include <QMessageBox>
#include <QSlider>
#include <QStatusBar>

#include <memory>
#include <sstream>

#include "gui_support.h"
#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/commands.h"
#include "shell/edit_ops.h"
#include "shell/main_frame.h"
#include "shell/recent_files.h"
#include "universe/edits.h"
#include "universe/directions.h"
#include "universe/universe.h"
#include "files/grid_file.h"
#include "files/memory_image.h"
#include "view/navigation.h"

namespace {

// Every part of a universe with everything an edit or a generation can change.
std::string cellsText(Universe& u) {
    const int32_t lo[3] = {-1000, -1000, -1000}, hi[3] = {1000, 1000, 1000};
    std::vector<UniverseCell> parts = partsInBox(u, lo, hi);
    std::sort(parts.begin(), parts.end(), [](const UniverseCell& a, const UniverseCell& b) {
        return std::tie(a.x, a.y, a.z) < std::tie(b.x, b.y, b.z);
    });
    std::ostringstream out;
    for (const UniverseCell& c : parts)
        out << c.x << ',' << c.y << ',' << c.z << ':' << c.partType << ' ' << c.front << c.side << c.up << ' '
            << int(c.outputs) << '/' << int(c.nextOutputs) << '/' << int(c.bonds) << ';';
    return out.str();
}

std::string cellsText(CCellforgeDoc* d) {
    std::string s;
    d->engine().withUniverse([&](Universe& u) { s = cellsText(u); });
    return s;
}

std::optional<UniverseCell> part(CCellforgeDoc* d, int x, int y, int z) {
    std::optional<UniverseCell> c;
    d->engine().withUniverse([&](Universe& u) { c = partAt(u, x, y, z); });
    return c;
}

uint32_t generation(CCellforgeDoc* d) {
    uint32_t g = 0;
    d->engine().withUniverse([&](Universe& u) { g = u.generation; });
    return g;
}

// Pixels of exactly the outline colour the selection is drawn in.
int outlinePixels(const QImage& img) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y);
            n += qRed(p) == 255 && qGreen(p) >= 210 && qGreen(p) <= 222 && qBlue(p) == 0;
        }
    return n;
}

// Pixels of the paste preview's colour.
int previewPixels(const QImage& img) {
    int n = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const QRgb p = img.pixel(x, y);
            n += qRed(p) == 0 && qGreen(p) == 255 && qBlue(p) == 255;
        }
    return n;
}

}  // namespace

class EditTest : public QObject {
    Q_OBJECT
    QTemporaryDir settingsDir_;
    std::unique_ptr<QTemporaryDir> work_;
    std::unique_ptr<CMainFrame> frame_;
    ScriptedDialogs dialogs_;

    QAction* act(int id) { return frame_->action(id); }
    bool enabled(int id) {
        frame_->updateCommandStates();
        return act(id)->isEnabled();
    }
    // A grid document in the work folder with the given cells.
    CCellforgeDoc* open(const QString& name, const std::vector<GridCell>& cells) {
        const QString path = work_->filePath(name);
        writeText(path, gridText(cells));
        CCellforgeDoc* d = frame_->openDocument(path);
        if (d) frame_->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(d->firstView()->parentWidget()));
        return d;
    }
    // Puts the eye so the cell's centre lies under the middle of the view.
    static QPoint aimAt(CCellforgeView* v, double x, double y, double z, float alt = 20, float az = 30) {
        Camera c = v->camera();
        c.alt = alt;
        c.az = az;
        const CameraAxes axes = cameraAxes(c);
        c.x = float(x - 8 * axes.forward[0]);
        c.y = float(y - 8 * axes.forward[1]);
        c.z = float(z - 8 * axes.forward[2]);
        v->setCamera(c);
        v->renderNow();
        QCoreApplication::processEvents();
        return QPoint(v->width() / 2, v->height() / 2);
    }
    static void click(CCellforgeView* v, QPoint at, Qt::KeyboardModifiers mods = Qt::NoModifier) {
        QTest::mouseClick(v, Qt::LeftButton, mods, at);
    }
    void step(CCellforgeDoc* d) {
        const uint32_t before = generation(d);
        d->engine().stepCommand();
        QTRY_COMPARE(generation(d), before + 1);
        QTRY_VERIFY(d->engine().canGo());
    }

    // A row of conductors fed by a source: the signal walks one cell a
    // generation, so every early generation looks different.
    static std::vector<GridCell> line() {
        std::vector<GridCell> cells{{0, 0, 0, 9, 1, 0}};
        for (int x = 1; x <= 6; ++x) cells.push_back({x, 0, 0, 1, 1, 0});
        return cells;
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
        CCellforgeView::setTool(EditTool::Select);
        act(cmd::ToolSelect)->setChecked(true);
        frame_->show();
        QVERIFY(QTest::qWaitForWindowExposed(frame_.get()));
        frame_->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(frame_.get()));
        QApplication::clipboard()->clear();
    }

    void cleanup() {
        // Nothing may ask on the way out.
        for (CCellforgeDoc* d : frame_->documents()) d->setModified(false);
        frame_.reset();
    }

    // ---- the arithmetic behind the commands

    void clipboardTextCarriesExactlyTheSelection() {
        Universe u;
        UniverseCell a = makePart(2, 1, 0, {5, 6, 7});
        a.outputs = 0b000010;
        a.bonds = 0b000010 | 0b000001;  // toward (6,6,7), inside, and (5,7,7), outside
        UniverseCell b = makePart(1, 3, 4, {6, 6, 7});
        b.bonds = 0b001000;  // back toward a
        UniverseCell outside = makePart(1, 0, 1, {5, 7, 7});
        outside.bonds = 0b000100;
        for (const UniverseCell& c : {a, b, outside}) QVERIFY(editCell(u, c));
        const std::string text = selectionGridText(u, CellBox::spanning({5, 6, 7}, {6, 6, 7}));
        QVERIFY(!text.empty());
        // Pasted elsewhere: the same two parts, moved, the outer bond gone.
        const auto cells = cellsFromGridText(text, {-10, 0, 3});
        QVERIFY(cells);
        QCOMPARE(cells->size(), size_t(2));
        Universe pasted;
        for (const UniverseCell& c : *cells) editCell(pasted, c);
        const auto pa = partAt(pasted, -10, 0, 3), pb = partAt(pasted, -9, 0, 3);
        QVERIFY(pa && pb);
        QCOMPARE(pa->partType, 2);
        QCOMPARE(pa->front, 1);
        QCOMPARE(pa->up, a.up);
        QCOMPARE(int(pa->outputs), int(a.outputs));
        QCOMPARE(int(pa->bonds), 0b000010);
        QCOMPARE(int(pb->bonds), 0b001000);
        QCOMPARE(pb->front, 3);
        // Text that is not a grid pastes nothing; an empty selection copies nothing.
        QVERIFY(!cellsFromGridText("hello world", {0, 0, 0}));
        QVERIFY(!cellsFromGridText("", {0, 0, 0}));
        QVERIFY(selectionGridText(u, CellBox::spanning({50, 50, 50}, {51, 51, 51})).empty());
    }

    void fourQuarterTurnsInAnyViewComeBackAndKeepTheLowCorner() {
        const CellBox box{{2, -3, 4}, {5, -2, 4}};
        for (float az : {0.0f, 30.0f, 100.0f, 200.0f})
            for (float alt : {0.0f, 60.0f, -80.0f}) {
                Camera c;
                c.alt = alt;
                c.az = az;
                for (bool clockwise : {true, false}) {
                    Universe u;
                    std::vector<CellPosition> where;
                    for (int i = 0; i < 4; ++i) {
                        const CellPosition p{box.lo[0] + i, box.lo[1] + (i & 1), box.lo[2]};
                        editCell(u, makePart(2 + i, 1, 4, p));
                        where.push_back(p);
                    }
                    const std::string before = cellsText(u);
                    CellBox current = box;
                    for (int turn = 0; turn < 4; ++turn) {
                        CellBox turned;
                        const PartTransform t = turnInView(c, current, clockwise, turned);
                        QCOMPARE(turned.lo, current.lo);
                        std::vector<CellPosition> now;
                        for (const UniverseCell& p : partsInBox(u, current.lo.data(), current.hi.data()))
                            now.push_back({p.x, p.y, p.z});
                        QCOMPARE(transformParts(u, now, t), size_t(4));
                        for (const UniverseCell& p : partsInBox(u, turned.lo.data(), turned.hi.data()))
                            QVERIFY(turned.contains({p.x, p.y, p.z}));
                        QCOMPARE(u.partCount(), size_t(4));
                        if (turn == 0) QVERIFY(cellsText(u) != before);
                        current = turned;
                    }
                    QCOMPARE(current, box);
                    QCOMPARE(cellsText(u), before);
                }
            }
    }

    // ---- the commands on the screen

    void clickSelectsShiftClickExtendsAndTheSelectionIsDrawn() {
        CCellforgeDoc* d = open(QStringLiteral("row.grd"), {{0, 0, 0, 1}, {1, 0, 0, 2}, {2, 0, 0, 3}, {2, 1, 1, 4}});
        QVERIFY(d);
        CCellforgeView* v = d->firstView();
        QVERIFY(!enabled(cmd::EditCopy) && !enabled(cmd::EditClear) && !enabled(cmd::TurnClockwise));
        const QPoint centre = aimAt(v, 0, 0, 0);
        QCOMPARE(outlinePixels(v->grabFramebuffer()), 0);
        click(v, centre);
        QVERIFY(v->selection());
        QCOMPARE(*v->selection(), (CellBox{{0, 0, 0}, {0, 0, 0}}));
        QVERIFY(enabled(cmd::EditCopy) && enabled(cmd::EditCut) && enabled(cmd::EditClear) &&
                enabled(cmd::TurnClockwise) && enabled(cmd::MirrorSelection));
        v->renderNow();
        const int one = outlinePixels(v->grabFramebuffer());
        QVERIFY2(one > 20, qPrintable(QString::number(one)));
        // Shift+click on another part: the box spanning both, every depth.
        aimAt(v, 2, 1, 1);
        click(v, centre, Qt::ShiftModifier);
        QCOMPARE(*v->selection(), (CellBox{{0, 0, 0}, {2, 1, 1}}));
        // For looking at by eye: CELLFORGE_EDIT_SHOT names a PNG of the window.
        if (const QByteArray shot = qgetenv("CELLFORGE_EDIT_SHOT"); !shot.isEmpty()) {
            aimAt(v, 1, 0.5, 0.5);
            v->renderNow();
            frame_->grab().save(QString::fromLocal8Bit(shot));
        }
        // A drag turns the camera and leaves the selection alone.
        const Camera before = v->camera();
        QTest::mousePress(v, Qt::LeftButton, {}, centre);
        QTest::mouseMove(v, centre + QPoint(40, 0));
        QTest::mouseRelease(v, Qt::LeftButton, {}, centre + QPoint(40, 0));
        QVERIFY(v->camera().az != before.az);
        QCOMPARE(*v->selection(), (CellBox{{0, 0, 0}, {2, 1, 1}}));
        // A click on nothing clears it, and the outline goes from the picture.
        Camera away = v->camera();
        away.z -= 300;
        away.alt = -90;  // looking away into empty space
        v->setCamera(away);
        click(v, centre);
        QVERIFY(!v->selection());
        v->renderNow();
        QCOMPARE(outlinePixels(v->grabFramebuffer()), 0);
        QVERIFY(!d->isModified());  // selecting edits nothing
    }

    void deleteEraseAndUndoRedoGoThroughTheTimeline() {
        CCellforgeDoc* d = open(QStringLiteral("three.grd"), {{0, 0, 0, 1}, {1, 0, 0, 2}, {2, 0, 0, 3}});
        QVERIFY(d);
        CCellforgeView* v = d->firstView();
        const std::string loaded = cellsText(d);
        QVERIFY(!enabled(cmd::EditUndo) && !enabled(cmd::EditRedo));
        v->setSelection(CellBox{{0, 0, 0}, {1, 0, 0}});
        act(cmd::EditClear)->trigger();
        QVERIFY(!part(d, 0, 0, 0) && !part(d, 1, 0, 0) && part(d, 2, 0, 0));
        QVERIFY(!v->selection());
        QVERIFY(enabled(cmd::EditUndo) && !enabled(cmd::EditRedo));
        const std::string afterDelete = cellsText(d);
        // The erase tool on the remaining part.
        act(cmd::ToolErase)->setChecked(true);
        QCOMPARE(CCellforgeView::tool(), EditTool::Erase);
        click(v, aimAt(v, 2, 0, 0));
        QVERIFY(!part(d, 2, 0, 0));
        // Undo twice comes back to the load byte for byte; redo goes forward again.
        act(cmd::EditUndo)->trigger();
        QCOMPARE(cellsText(d), afterDelete);
        QTest::keyClick(v, Qt::Key_Z, Qt::ControlModifier);
        QCOMPARE(cellsText(d), loaded);
        QVERIFY(!enabled(cmd::EditUndo) && enabled(cmd::EditRedo));
        QTest::keyClick(v, Qt::Key_Y, Qt::ControlModifier);
        QCOMPARE(cellsText(d), afterDelete);
        QTest::keyClick(v, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
        QVERIFY(!part(d, 2, 0, 0));
        QVERIFY(!enabled(cmd::EditRedo));
        QVERIFY(d->isModified());
    }

    void placePutsThePalettePartInFrontOfTheFaceAndRTurnsIt() {
        CCellforgeDoc* d = open(QStringLiteral("one.grd"), {{0, 0, 0, 1}});
        QVERIFY(d);
        CCellforgeView* v = d->firstView();
        // Picking a part in the palette takes up the place tool.
        frame_->partPalette()->button(2)->click();
        QCOMPARE(CCellforgeView::tool(), EditTool::Place);
        QCOMPARE(CCellforgeView::partChoice().type, 2);
        // Straight at the -z face (looking along +z), then at the +y face from above.
        const QPoint centre = aimAt(v, 0, 0, 0, 0, 0);
        const std::array<double, 3> f = cameraAxes(v->camera()).forward;
        const int axis = nearestAxis(f);
        const int sign = f[axis] > 0 ? -1 : 1;
        click(v, centre);
        int at[3] = {0, 0, 0};
        at[axis] = sign;
        const auto placed = part(d, at[0], at[1], at[2]);
        QVERIFY(placed);
        QCOMPARE(placed->partType, 2);
        QCOMPARE(placed->front, 0);
        QCOMPARE(placed->up, deriveUp(0, 1));
        QCOMPARE(d->engine().universe().partCount(), size_t(2));
        // The placed part drawn: the picture changed where it stands.
        // R turns the part under the pointer a quarter turn about the
        // view's vertical; Shift+R turns it back.
        act(cmd::ToolSelect)->setChecked(true);
        aimAt(v, at[0], at[1], at[2], 0, 0);
        QTest::mouseMove(v, centre);
        const std::string before = cellsText(d);
        QTest::keyClick(v, Qt::Key_R);
        const auto turned = part(d, at[0], at[1], at[2]);
        QVERIFY(turned && (turned->front != 0 || turned->side != 1));
        QVERIFY(cellsText(d) != before);
        QTest::keyClick(v, Qt::Key_R, Qt::ShiftModifier);
        QCOMPARE(cellsText(d), before);
        QCOMPARE(frame_->windowTitle(), QStringLiteral("Cellforge - one.grd*"));
    }

    void copyAndPasteBetweenTwoDocuments() {
        CCellforgeDoc* a = open(QStringLiteral("a.grd"),
                                {{10, 0, 0, 2, 1, 0, 2, 0}, {11, 0, 0, 1, 1, 0}, {11, 1, 0, 5, 4, 1}, {30, 0, 0, 3}});
        QVERIFY(a);
        CCellforgeView* va = a->firstView();
        va->setSelection(CellBox{{10, 0, 0}, {11, 1, 0}});
        QVERIFY(!enabled(cmd::EditPaste));
        act(cmd::EditCopy)->trigger();
        const QString text = QApplication::clipboard()->text();
        QVERIFY(text.startsWith(QStringLiteral("0 0 0")));
        QVERIFY(enabled(cmd::EditPaste));
        // Into an empty document: the structure, relative to its low corner.
        CCellforgeDoc* b = frame_->newDocument();
        QVERIFY(b);
        CCellforgeView* vb = b->firstView();
        QVERIFY(frame_->pasteAt(vb, QPoint(vb->width() / 2, vb->height() / 2)));
        QCOMPARE(b->engine().universe().partCount(), size_t(3));
        const CellBox box = *vb->selection();
        const auto p0 = part(b, box.lo[0], box.lo[1], box.lo[2]);
        const auto p2 = part(b, box.lo[0] + 1, box.lo[1] + 1, box.lo[2]);
        QVERIFY(p0 && p2);
        QCOMPARE(p0->partType, 2);
        QCOMPARE(int(p0->outputs), 2);
        QCOMPARE(p2->partType, 5);
        QCOMPARE(p2->front, 4);
        // One paste, one undo step.
        act(cmd::EditUndo)->trigger();
        QCOMPARE(b->engine().universe().partCount(), size_t(0));
        // Cut takes the parts out of the first document, and a paste on a
        // part puts the copy in front of the face under the pointer.
        frame_->mdiArea()->setActiveSubWindow(qobject_cast<QMdiSubWindow*>(va->parentWidget()));
        va->setSelection(CellBox{{10, 0, 0}, {11, 1, 0}});
        act(cmd::EditCut)->trigger();
        QCOMPARE(a->engine().universe().partCount(), size_t(1));
        const QPoint centre = aimAt(va, 30, 0, 0, 0, 0);
        QVERIFY(frame_->pasteAt(va, centre));
        QCOMPARE(a->engine().universe().partCount(), size_t(4));
        QVERIFY(part(a, 30, 0, 0));
        QVERIFY(!va->selection()->contains({30, 0, 0}));
        // Paste from the menu shows where the parts would go, following the
        // pointer, and a click puts them there.
        act(cmd::EditPaste)->trigger();
        QVERIFY(va->pasting());
        QTest::mouseMove(va, centre);
        va->renderNow();
        QCoreApplication::processEvents();
        va->renderNow();
        QVERIFY(va->pasteTarget());
        const CellPosition target = *va->pasteTarget();
        QCOMPARE(target, va->placeTarget(centre));
        // The preview is exactly the difference between the picture with it
        // and the picture after Esc dropped it: a box of its own colour.
        const QImage with = va->grabFramebuffer();
        if (const QByteArray shot = qgetenv("CELLFORGE_EDIT_SHOT"); !shot.isEmpty())
            frame_->grab().save(QString::fromLocal8Bit(shot).replace(QStringLiteral(".png"), QStringLiteral("-paste.png")));
        QTest::keyClick(va, Qt::Key_Escape);
        QVERIFY(!va->pasting());
        va->renderNow();
        const QImage without = va->grabFramebuffer();
        QCOMPARE(with.size(), without.size());
        int changed = 0, boxColoured = 0;
        for (int y = 0; y < with.height(); ++y)
            for (int x = 0; x < with.width(); ++x) {
                if (with.pixel(x, y) == without.pixel(x, y)) continue;
                ++changed;
                boxColoured += previewPixels(with.copy(x, y, 1, 1));
            }
        QVERIFY2(changed > 20, qPrintable(QString::number(changed)));
        QCOMPARE(boxColoured, changed);
        QCOMPARE(a->engine().universe().partCount(), size_t(4));  // nothing placed yet
        // Again, and a click puts the parts where the box was.
        act(cmd::EditPaste)->trigger();
        QVERIFY(va->pasting());
        click(va, centre);
        QVERIFY(!va->pasting());
        QCOMPARE(a->engine().universe().partCount(), size_t(7));
        const auto low = part(a, target.x, target.y, target.z);
        QVERIFY(low && low->partType == 2);
        QCOMPARE(va->selection()->lo, (std::array<int32_t, 3>{target.x, target.y, target.z}));
        // Text from elsewhere is not pasted.
        QApplication::clipboard()->setText(QStringLiteral("not a grid"));
        QVERIFY(!enabled(cmd::EditPaste));
        QVERIFY(!frame_->pasteAt(va, centre));
    }

    // A selection never outlives its parts: undoing a paste drops the
    // selection the paste made, and an undo that takes away some of the
    // selected parts shrinks it to those left. Nothing is drawn for it then.
    void undoClipsTheSelectionToPartsThatRemain() {
        CCellforgeDoc* d = open(QStringLiteral("clip.grd"), {{0, 0, 0, 1}, {1, 0, 0, 2}});
        QVERIFY(d);
        CCellforgeView* v = d->firstView();
        v->setSelection(CellBox{{0, 0, 0}, {1, 0, 0}});
        act(cmd::EditCopy)->trigger();
        const QPoint centre = aimAt(v, 0, 0, 0, 0, 0);
        v->setSelection(std::nullopt);
        v->renderNow();
        const QImage before = v->grabFramebuffer();
        QVERIFY(frame_->pasteAt(v, centre));
        QVERIFY(v->selection());
        const CellBox pastedBox = *v->selection();
        QCOMPARE(d->engine().universe().partCount(), size_t(4));
        act(cmd::EditUndo)->trigger();
        QCOMPARE(d->engine().universe().partCount(), size_t(2));
        QVERIFY(!v->selection());
        QVERIFY(!enabled(cmd::EditCopy));
        // The picture is the one from before the paste: no box left behind.
        v->renderNow();
        QCOMPARE(v->grabFramebuffer(), before);
        // Redo brings the parts back but not a selection.
        act(cmd::EditRedo)->trigger();
        QCOMPARE(d->engine().universe().partCount(), size_t(4));
        QVERIFY(!v->selection());

        // Some of the selected parts go: the box closes on the rest.
        d->placeParts({makePart(1, 0, 1, {5, 3, 0})}, "place");
        v->setSelection(CellBox{{0, 0, 0}, {5, 3, 0}});
        act(cmd::EditUndo)->trigger();
        QVERIFY(v->selection());
        QCOMPARE(*v->selection(), (CellBox{{0, 0, 0}, {1, 0, 0}}));
        // Reset takes the pasted parts away: a box around them alone goes.
        QVERIFY(!pastedBox.contains({0, 0, 0}) && !pastedBox.contains({1, 0, 0}));
        v->setSelection(pastedBox);
        act(cmd::RunReset)->trigger();
        QCOMPARE(d->engine().universe().partCount(), size_t(2));
        QVERIFY(!v->selection());
    }

    // The asterisk says whether the document differs from its last save or
    // load: undoing back to that point takes it away, redoing puts it back,
    // and once another edit has replaced the undone ones the point is gone.
    void undoBackToTheSavedPointIsUnmodified() {
        CCellforgeDoc* d = open(QStringLiteral("mark.grd"), {{0, 0, 0, 1}});
        QVERIFY(d);
        QCOMPARE(d->displayTitle(), QStringLiteral("mark.grd"));
        d->placeParts({makePart(1, 0, 1, {0, 1, 0})}, "place");
        QCOMPARE(d->displayTitle(), QStringLiteral("mark.grd*"));
        act(cmd::EditUndo)->trigger();
        QVERIFY(!d->isModified());
        QCOMPARE(frame_->windowTitle(), QStringLiteral("Cellforge - mark.grd"));
        act(cmd::EditRedo)->trigger();
        QVERIFY(d->isModified());
        QCOMPARE(frame_->windowTitle(), QStringLiteral("Cellforge - mark.grd*"));

        // Saved after one edit: that is the clean point from now on.
        QVERIFY(d->onSaveDocument(work_->filePath(QStringLiteral("mark2.grd"))));
        QVERIFY(!d->isModified());
        d->placeParts({makePart(1, 0, 1, {0, 2, 0})}, "place");
        QVERIFY(d->isModified());
        act(cmd::EditUndo)->trigger();
        QVERIFY(!d->isModified());
        act(cmd::EditUndo)->trigger();
        QVERIFY(d->isModified());  // before the save
        act(cmd::EditRedo)->trigger();
        QVERIFY(!d->isModified());
        // A run and a rewind change nothing that was saved.
        step(d);
        step(d);
        frame_->jumpToGeneration(1);
        QVERIFY(!d->isModified());
        // Undo past the save, then a different edit: the saved point is no
        // longer reachable by undo or redo.
        act(cmd::EditUndo)->trigger();
        QVERIFY(d->isModified());
        d->placeParts({makePart(1, 0, 1, {3, 0, 0})}, "place");
        QVERIFY(d->isModified());
        act(cmd::EditUndo)->trigger();
        QVERIFY(d->isModified());
        act(cmd::EditRedo)->trigger();
        QVERIFY(d->isModified());
    }

    void resetStepBackAndTheSliderGoWhereTheRunWas() {
        CCellforgeDoc* d = open(QStringLiteral("line.grd"), line());
        QVERIFY(d);
        std::vector<std::string> states{cellsText(d)};
        for (int g = 1; g <= 8; ++g) {
            step(d);
            states.push_back(cellsText(d));
        }
        QVERIFY(states[1] != states[4]);  // the machine does change
        frame_->updateTimelineBar();
        QSlider* slider = frame_->timelineSlider();
        QCOMPARE(slider->minimum(), 0);
        QCOMPARE(slider->maximum(), 8);
        QCOMPARE(slider->value(), 8);
        // Step Back: one generation, the state the run had there.
        act(cmd::StepBack)->trigger();
        QCOMPARE(generation(d), 7u);
        QCOMPARE(cellsText(d), states[7]);
        // The slider jumps on release.
        slider->setSliderDown(true);
        slider->setValue(3);
        slider->setSliderDown(false);
        QCOMPARE(generation(d), 3u);
        QCOMPARE(cellsText(d), states[3]);
        // And forward again, by replaying.
        slider->setSliderDown(true);
        slider->setValue(6);
        slider->setSliderDown(false);
        QCOMPARE(generation(d), 6u);
        QCOMPARE(cellsText(d), states[6]);
        // While running: the worker stops, then goes back.
        act(cmd::Go)->trigger();
        QTRY_VERIFY(generation(d) >= 12);
        act(cmd::StepBack)->trigger();
        QVERIFY(d->engine().canGo());
        const uint32_t g = generation(d);
        QVERIFY(g >= 11);
        act(cmd::StepBack)->trigger();
        QCOMPARE(generation(d), g - 1);
        // Reset: the universe as loaded, edits and all forgotten.
        d->placeParts({makePart(4, 0, 1, {0, 5, 0})}, "place");
        act(cmd::Go)->trigger();
        QTRY_VERIFY(generation(d) > g + 2);
        act(cmd::RunReset)->trigger();
        QVERIFY(d->engine().canGo());
        QCOMPARE(generation(d), 0u);
        QCOMPARE(cellsText(d), states[0]);
        // And a run after the reset passes the same states again.
        for (int g2 = 1; g2 <= 5; ++g2) step(d);
        QCOMPARE(cellsText(d), states[5]);
    }

    // Tools > Memory is an input from outside: kept through going back and
    // forth, gone after Reset, and no step of undo.
    void memoryWritesStayThroughRewinds() {
        std::vector<GridCell> cells;
        for (int bit = 0; bit < 6; ++bit)
            for (int p = 0; p < 256; ++p) {
                int64_t y = 0, z = 0;
                memoryLoopPosition(0, 0, p, y, z);
                cells.push_back({bit, int(y), int(z), 1, 0, 1});
            }
        CCellforgeDoc* d = open(QStringLiteral("module.grd"), cells);
        QVERIFY(d);
        const std::string loaded = cellsText(d);
        step(d);
        step(d);
        const MemoryWriteReport report = d->writeMemory(0, 0, 0, 0, {63, 5, 0, 42});
        QCOMPARE(report.modules, size_t(1));
        const std::string written = cellsText(d);
        QVERIFY(written != loaded);
        QVERIFY(!enabled(cmd::EditUndo));
        QVERIFY(!d->isModified());
        step(d);
        step(d);
        const std::string later = cellsText(d);
        frame_->jumpToGeneration(1);
        frame_->jumpToGeneration(2);
        QCOMPARE(cellsText(d), written);
        // Back to where the run stood, which the record must still reach.
        frame_->jumpToGeneration(4);
        QCOMPARE(generation(d), 4u);
        QCOMPARE(cellsText(d), later);
        act(cmd::RunReset)->trigger();
        QCOMPARE(cellsText(d), loaded);
    }

    void editedDocumentsAskBeforeTheyGo() {
        CCellforgeDoc* d = open(QStringLiteral("keep.grd"), {{0, 0, 0, 1}});
        QVERIFY(d);
        // Running alone never asks.
        act(cmd::Go)->trigger();
        QTRY_VERIFY(generation(d) > 3);
        act(cmd::Stop)->trigger();
        QVERIFY(!d->isModified());
        QCOMPARE(d->firstView()->parentWidget()->windowTitle(), QStringLiteral("keep.grd"));
        d->placeParts({makePart(1, 0, 1, {0, 1, 0})}, "place");
        QVERIFY(d->isModified());
        QCOMPARE(d->firstView()->parentWidget()->windowTitle(), QStringLiteral("keep.grd*"));
        QCOMPARE(frame_->windowTitle(), QStringLiteral("Cellforge - keep.grd*"));
        // Cancel keeps it open; closing its window asks the same.
        QString asked;
        whenModal<QMessageBox>([&](QMessageBox* box) {
            asked = box->text();
            box->button(QMessageBox::Cancel)->click();
        });
        act(cmd::FileClose)->trigger();
        QCOMPARE(asked, QStringLiteral("Save changes to keep.grd?"));
        QCOMPARE(frame_->documents().size(), size_t(1));
        whenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Cancel)->click(); });
        d->firstView()->parentWidget()->close();
        QCoreApplication::processEvents();
        QCOMPARE(frame_->documents().size(), size_t(1));
        // Quitting asks too; Cancel keeps the program.
        whenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Cancel)->click(); });
        frame_->close();
        QVERIFY(frame_->isVisible());
        QCOMPARE(frame_->documents().size(), size_t(1));
        // Save writes the grid where the dialog says, then it goes.
        const QString saved = work_->filePath(QStringLiteral("saved.grd"));
        dialogs_.answers = {saved};
        whenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Save)->click(); });
        act(cmd::FileClose)->trigger();
        QCOMPARE(frame_->documents().size(), size_t(0));
        CCellforgeDoc* again = frame_->openDocument(saved);
        QVERIFY(again);
        QCOMPARE(again->engine().universe().partCount(), size_t(2));
        QVERIFY(part(again, 0, 1, 0));
        QVERIFY(!again->isModified());
        // Discard: gone without saving.
        again->placeParts({makePart(1, 0, 1, {0, 2, 0})}, "place");
        whenModal<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::Discard)->click(); });
        act(cmd::FileClose)->trigger();
        QCOMPARE(frame_->documents().size(), size_t(0));
        Universe check;
        QVERIFY(openGridDocument(check, saved.toStdString()));
        QCOMPARE(check.partCount(), size_t(2));
    }
};

QTEST_MAIN(EditTest)
#include "edit_test.moc"
