#include "shell/cellforge_view.h"

#include <QCursor>
#include <QKeyEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QWheelEvent>
#include <QSurfaceFormat>
#include <QTimer>

#include "shell/animation_run.h"
#include "shell/cellforge_doc.h"
#include "shell/messages.h"
#include "files/input_file.h"
#include "view/bitmap.h"
#include "view/drive_dump.h"
#include "view/png.h"

#include <GL/gl.h>

#include <algorithm>
#include <vector>
#include <cmath>

#include "universe/edits.h"
#include "view/part_geometry.h"

bool frameOutputDue(FrameOutput& out, uint32_t generation) {
    if (out.interval == 0) return false;
    const uint32_t threshold = out.lastGeneration + uint32_t(out.interval);
    if (generation >= threshold && generation != out.lastGeneration) {
        out.lastGeneration = generation;
        return true;
    }
    return false;
}

CCellforgeView::CCellforgeView(CCellforgeDoc* doc, QWidget* parent) : QOpenGLWidget(parent), doc_(doc) {
    centre_.set(0.0f, 0.0f, 5.0f);
    setFocusPolicy(Qt::StrongFocus);
    setMouseTracking(true);  // hover inspection
    // A double-buffered RGBA surface with at least 24 colour bits and a depth buffer.
    QSurfaceFormat f = format();
    f.setRedBufferSize(8);
    f.setGreenBufferSize(8);
    f.setBlueBufferSize(8);
    f.setDepthBufferSize(24);
    f.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    f.setProfile(QSurfaceFormat::CompatibilityProfile);
    setFormat(f);
    if (doc_) {
        doc_->addView(this);
        connect(doc_, &CCellforgeDoc::timelineMoved, this, &CCellforgeView::clipSelectionToParts);
    }
}

void CCellforgeView::clipSelectionToParts() {
    if (!selection_ || !doc_) return;
    std::optional<CellBox> left;
    const CellBox box = *selection_;
    doc_->engine().withUniverse([&](Universe& u) { left = clipToParts(u, box); });
    setSelection(left);
}

CCellforgeView::~CCellforgeView() {
    if (contextReady_ && context()) {
        makeCurrent();
        depthTarget_.release();
        doneCurrent();
    }
    if (doc_) doc_->removeView(this);
}

Camera CCellforgeView::camera() const {
    Camera c;
    c.x = centre_.x.load();
    c.y = centre_.y.load();
    c.z = centre_.z.load();
    c.alt = alt_;
    c.az = az_;
    return c;
}

void CCellforgeView::setCamera(const Camera& c) {
    centre_.set(c.x, c.y, c.z);
    alt_ = c.alt;
    az_ = c.az;
    cameraMoved();
}

void CCellforgeView::cameraMoved() {
    if (!hoverText_.isEmpty()) {
        hoverText_.clear();
        emit hoverTextChanged(QString());
    }
    // Pick again under the pointer once the next frame is drawn.
    if (hovering_) hoverPending_ = true;
}

void CCellforgeView::showEvent(QShowEvent* event) {
    QOpenGLWidget::showEvent(event);
    if (surfaceChecked_) return;
    surfaceChecked_ = true;
    // The surface is made on the first show. Without it the view stays black
    // and draws nothing; say so once, the way the binding failures are named.
    QTimer::singleShot(0, this, [this] {
        if (!isValid())
            showMessageBox(QStringLiteral("SetPixelFormat failed"));
        else if (format().redBufferSize() < 8 || format().greenBufferSize() < 8 || format().blueBufferSize() < 8 ||
                 format().depthBufferSize() <= 0)
            showMessageBox(QStringLiteral("ChoosePixelFormat failed"));
    });
}

void CCellforgeView::initializeGL() {
    // A new context (the widget was moved to another window): the old
    // target went with the old context.
    depthTarget_.abandon();
    renderer_.invalidate();
    setUpViewState(width() * devicePixelRatio(), height() * devicePixelRatio());
    size_.lastWidth = width() * devicePixelRatio();
    size_.lastHeight = height() * devicePixelRatio();
    contextReady_ = true;
}

void CCellforgeView::resizeGL(int w, int h) {
    // Qt repaints after every resize anyway; the shrink test only matters
    // for keeping the tracked size right.
    resizeView(size_, w, h);
}

void CCellforgeView::paintGL() {
    if (!doc_) return;
    const qreal dpr = devicePixelRatio();
    const bool deep = depthTarget_.bind(int(width() * dpr), int(height() * dpr));
    // Only our own target keeps its picture between frames, so only then may
    // an unchanged frame be kept instead of drawn again.
    if (deep != reusingFrames_) {
        renderer_.setReuseUnchangedFrames(deep);
        reusingFrames_ = deep;
    }
    if (pasteTargetPending_) updatePasteTarget();
    FrameResult r = renderer_.renderFrame(camera(), doc_->universe(), &doc_->driver());
    // A kept frame already shows the selection as it was drawn with it.
    if (r.drawn && !r.reused && selection_) drawSelection();
    if (r.drawn && !r.reused && pasteTarget_ && pasting()) drawPastePreview();
    if (deep) depthTarget_.copyTo(defaultFramebufferObject());
    if (!r.drawn) return;
    lastFrame_ = r;
    ++framesDrawn_;
    doc_->frameDrawn();
    const SceneSnapshot& s = renderer_.lastSnapshot();
    emit statusLineChanged(QString::fromStdString(statusLine(s)));
    if (frameOutputDue(frameOutput_, s.generation)) {
        std::string path = frameFileName(frameOutput_.folder.toStdString(), frameOutput_.prefix.toStdString(),
                                         frameOutput_.counter);
        // The window never blocks on a FIFO standing where a frame goes.
        const bool saved = outputAllowed(path, OutputPolicy::RegularOnly) &&
                           saveWindowBitmap(int(width() * dpr), int(height() * dpr), path);
        ++frameOutput_.counter;  // advances whether or not the file was written
        if (!saved) {
            // The next frame would fail the same way, fifty times a second:
            // output stops here and says so once.
            frameOutput_.interval = 0;
            const QString file = QString::fromStdString(path);
            QString why = outputProblem(file);
            if (why.isEmpty()) why = QStringLiteral("the file could not be written");
            emit message(QStringLiteral("Frame output: could not write %1: %2; frame output is off").arg(file, why));
        }
    }
    measureSpeed();
    if (hoverPending_) updateHover();
}

void CCellforgeView::measureSpeed() {
    const uint32_t generation = renderer_.lastSnapshot().generation;
    if (!speedClock_.isValid()) {
        speedClock_.start();
        speedFrames_ = framesDrawn_;
        speedGeneration_ = generation;
        return;
    }
    const qint64 ms = speedClock_.elapsed();
    if (ms < 1000) return;
    fps_ = double(framesDrawn_ - speedFrames_) * 1000.0 / double(ms);
    gps_ = double(uint32_t(generation - speedGeneration_)) * 1000.0 / double(ms);
    speedClock_.restart();
    speedFrames_ = framesDrawn_;
    speedGeneration_ = generation;
}

std::optional<PickedPart> CCellforgeView::partAt(QPoint pos) {
    if (!doc_) return std::nullopt;
    std::optional<PickedPart> hit;
    const Camera c = camera();
    const int w = width(), h = height();
    doc_->engine().withUniverse(
        [&](Universe& u) { hit = pickPart(c, w, h, pos.x() + 0.5, pos.y() + 0.5, u); });
    return hit;
}

bool CCellforgeView::watchAt(QPoint pos) {
    const std::optional<PickedPart> hit = partAt(pos);
    if (!hit || !doc_->signalWatch().watchCell(hit->x, hit->y, hit->z, hit->front)) return false;
    emit partWatched();
    return true;
}

QMenu* CCellforgeView::partMenu(QPoint pos, QWidget* parent) {
    if (!partAt(pos)) return nullptr;
    auto* menu = new QMenu(parent);
    QAction* watch = menu->addAction(QStringLiteral("Watch"));
    watch->setObjectName(QStringLiteral("watchPart"));
    watch->setStatusTip(QStringLiteral("Add this part's front signal to the Signals pane"));
    // The part under the press, not wherever the pointer is when the item
    // is chosen.
    connect(watch, &QAction::triggered, this, [this, pos] { watchAt(pos); });
    return menu;
}

QString CCellforgeView::describePartAt(QPoint pos) {
    if (!doc_) return QString();
    std::string line;
    const Camera c = camera();
    const int w = width(), h = height();
    // The part, its region, its binding and the terminal table are all read
    // in one paused stretch, so a stimulus being replaced cannot race them.
    doc_->engine().withUniverse([&](Universe& u) {
        const std::optional<PickedPart> hit = pickPart(c, w, h, pos.x() + 0.5, pos.y() + 0.5, u);
        if (!hit) return;
        std::string terminal;
        if (hit->binding && hit->binding->terminal) {
            terminal = hit->binding->terminal->name;
        } else if (const TerminalTable* table = doc_->engine().terminals()) {
            // A terminal the stimulus does not feed (a monitor tap) is
            // found by its position.
            for (size_t i = 0; i < table->size(); ++i) {
                const Terminal& t = table->at(i);
                if (t.x == hit->x && t.y == hit->y && t.z == hit->z) {
                    terminal = t.name;
                    break;
                }
            }
        }
        line = describePart(*hit, terminal);
    });
    return QString::fromStdString(line);
}

void CCellforgeView::updateHover() {
    hoverPending_ = false;
    const QString text = hovering_ ? describePartAt(hoverPos_) : QString();
    if (text == hoverText_) return;
    hoverText_ = text;
    emit hoverTextChanged(text);
}

bool CCellforgeView::drawnBox(Bounds& box) {
    if (drawnBounds(renderer_.lastSnapshot(), box)) return true;
    if (!doc_) return false;
    SceneSnapshot fresh;
    doc_->engine().withUniverse([&](Universe& u) {
        const int32_t drawn = u.drawnCellCount;
        takeSnapshot(u, fresh);
        u.drawnCellCount = drawn;  // counted by frames only
    });
    return drawnBounds(fresh, box);
}

bool bulkBounds(const SceneSnapshot& snapshot, Bounds& box, size_t& outside) {
    outside = 0;
    const size_t n = snapshot.cells.size();
    if (n == 0) return false;
    double lo[3], hi[3];
    std::vector<int32_t> values(n);
    const size_t cut = n / 20;  // 5 per cent at each end
    for (int axis = 0; axis < 3; ++axis) {
        for (size_t i = 0; i < n; ++i) {
            const SceneCell& c = snapshot.cells[i];
            values[i] = axis == 0 ? c.x : axis == 1 ? c.y : c.z;
        }
        std::nth_element(values.begin(), values.begin() + cut, values.end());
        const double q0 = values[cut];
        std::nth_element(values.begin(), values.begin() + (n - 1 - cut), values.end());
        const double q1 = values[n - 1 - cut];
        const double margin = std::max(q1 - q0, 16.0);
        lo[axis] = q0 - margin;
        hi[axis] = q1 + margin;
    }
    SceneSnapshot inside;
    inside.cells.reserve(n);
    for (const SceneCell& c : snapshot.cells) {
        const double p[3] = {double(c.x), double(c.y), double(c.z)};
        bool in = true;
        for (int axis = 0; axis < 3; ++axis) in = in && p[axis] >= lo[axis] && p[axis] <= hi[axis];
        if (in)
            inside.cells.push_back(c);
        else
            ++outside;
    }
    return drawnBounds(inside, box);
}

CCellforgeView::FitOutcome CCellforgeView::fitAll(bool everything) {
    FitOutcome outcome;
    Bounds all;
    if (!drawnBox(all)) return outcome;
    const SceneSnapshot* snapshot = &renderer_.lastSnapshot();
    SceneSnapshot fresh;
    if (snapshot->cells.empty() && doc_) {
        doc_->engine().withUniverse([&](Universe& u) {
            const int32_t drawn = u.drawnCellCount;
            takeSnapshot(u, fresh);
            u.drawnCellCount = drawn;
        });
        snapshot = &fresh;
    }
    Bounds bulk;
    size_t outside = 0;
    if (!bulkBounds(*snapshot, bulk, outside)) outside = 0;
    // Home pressed again where the last Fit All left the eye: everything.
    const Camera here = camera();
    const bool again = lastBulkFit_ && lastBulkFit_->x == here.x && lastBulkFit_->y == here.y &&
                       lastBulkFit_->z == here.z && lastBulkFit_->alt == here.alt && lastBulkFit_->az == here.az;
    outcome.fitted = true;
    outcome.everything = everything || again || outside == 0;
    outcome.outside = outcome.everything ? 0 : outside;
    setCamera(fitAllCamera(outcome.everything ? all : bulk, width(), height()));
    if (outcome.everything)
        lastBulkFit_.reset();
    else
        lastBulkFit_ = camera();
    return outcome;
}

std::array<double, 3> CCellforgeView::pointAlongRay(QPoint pos, double distance) const {
    const Camera c = camera();
    const std::array<double, 3> d = pixelRay(c, width(), height(), pos.x() + 0.5, pos.y() + 0.5);
    return {c.x + d[0] * distance, c.y + d[1] * distance, c.z + d[2] * distance};
}

double CCellforgeView::distanceUnder(QPoint pos) {
    if (auto hit = partAt(pos)) return hit->distance;
    Bounds box;
    if (drawnBounds(renderer_.lastSnapshot(), box)) {
        // From inside the machine, the distance to its centre.
        const double d = distanceToBox(camera(), box);
        if (d > 0) return d;
        const Camera c = camera();
        const double dx = (box.lo[0] + box.hi[0]) / 2 - c.x, dy = (box.lo[1] + box.hi[1]) / 2 - c.y,
                     dz = (box.lo[2] + box.hi[2]) / 2 - c.z;
        return std::max(1.0, std::sqrt(dx * dx + dy * dy + dz * dz));
    }
    return 10.0;
}

// ------------------------------------------------------------------ editing

namespace {
// The twelve edges of a box, in the current colour and line width.
void wire(const double lo[3], const double hi[3]) {
    const double x[2] = {lo[0], hi[0]}, y[2] = {lo[1], hi[1]}, z[2] = {lo[2], hi[2]};
    glBegin(GL_LINES);
    for (int a = 0; a < 2; ++a)
        for (int b = 0; b < 2; ++b) {
            glVertex3d(x[0], y[a], z[b]);
            glVertex3d(x[1], y[a], z[b]);
            glVertex3d(x[a], y[0], z[b]);
            glVertex3d(x[a], y[1], z[b]);
            glVertex3d(x[a], y[b], z[0]);
            glVertex3d(x[a], y[b], z[1]);
        }
    glEnd();
}
}  // namespace

void CCellforgeView::drawSelection() {
    const CellBox& box = *selection_;
    const SceneSnapshot& shot = renderer_.lastSnapshot();
    glPushMatrix();
    applyCameraTransform(camera());
    glLineWidth(1.0f);
    // Each selected part outlined just outside its body, hidden where
    // other parts hide it.
    glColor3f(1.0f, 0.85f, 0.0f);
    size_t outlined = 0;
    constexpr size_t kMostOutlines = 20000;
    constexpr double h = kBodyHalfSize + 0.03;
    for (const SceneCell& c : shot.cells) {
        if (!box.contains({c.x, c.y, c.z})) continue;
        if (++outlined > kMostOutlines) break;
        const double lo[3] = {c.x - h, c.y - h, c.z - h}, hi[3] = {c.x + h, c.y + h, c.z + h};
        wire(lo, hi);
    }
    // The box itself on top of everything, so it shows where it is hidden.
    glDisable(GL_DEPTH_TEST);
    glLineWidth(2.0f);
    glColor3f(1.0f, 1.0f, 1.0f);
    const double lo[3] = {box.lo[0] - 0.5, box.lo[1] - 0.5, box.lo[2] - 0.5};
    const double hi[3] = {box.hi[0] + 0.5, box.hi[1] + 0.5, box.hi[2] + 0.5};
    wire(lo, hi);
    glEnable(GL_DEPTH_TEST);
    glLineWidth(1.0f);
    glPopMatrix();
}

void CCellforgeView::drawPastePreview() {
    const CellPosition& at = *pasteTarget_;
    glPushMatrix();
    applyCameraTransform(camera());
    glDisable(GL_DEPTH_TEST);
    glLineWidth(2.0f);
    glColor3f(0.0f, 1.0f, 1.0f);
    const double lo[3] = {at.x - 0.5, at.y - 0.5, at.z - 0.5};
    const double hi[3] = {at.x + pasteExtent_[0] + 0.5, at.y + pasteExtent_[1] + 0.5, at.z + pasteExtent_[2] + 0.5};
    wire(lo, hi);
    glEnable(GL_DEPTH_TEST);
    glLineWidth(1.0f);
    glPopMatrix();
}

void CCellforgeView::updatePasteTarget() {
    pasteTargetPending_ = false;
    if (!pasting() || !hovering_) return;
    const CellPosition at = placeTarget(hoverPos_);
    if (pasteTarget_ && *pasteTarget_ == at) return;
    pasteTarget_ = at;
    renderer_.invalidate();  // the box moved: this frame is drawn anew
}

void CCellforgeView::beginPaste(std::vector<UniverseCell> cells) {
    pasteCells_ = std::move(cells);
    pasteExtent_ = {0, 0, 0};
    for (const UniverseCell& c : pasteCells_) {
        pasteExtent_[0] = std::max(pasteExtent_[0], c.x);
        pasteExtent_[1] = std::max(pasteExtent_[1], c.y);
        pasteExtent_[2] = std::max(pasteExtent_[2], c.z);
    }
    pasteTarget_.reset();
    const QPoint p = mapFromGlobal(QCursor::pos());
    if (rect().contains(p)) {
        hoverPos_ = p;
        hovering_ = true;
    }
    pasteTargetPending_ = true;
    renderer_.invalidate();
    update();
}

void CCellforgeView::cancelPaste() {
    if (!pasting()) return;
    pasteCells_.clear();
    pasteTarget_.reset();
    renderer_.invalidate();
    update();
}

bool CCellforgeView::finishPaste(const CellPosition& at) {
    if (!pasting() || !doc_) return false;
    std::vector<UniverseCell> cells;
    cells.reserve(pasteCells_.size());
    CellBox box{{at.x, at.y, at.z}, {at.x, at.y, at.z}};
    for (UniverseCell c : pasteCells_) {
        const int64_t x = int64_t(c.x) + at.x, y = int64_t(c.y) + at.y, z = int64_t(c.z) + at.z;
        if (!Universe::inCoordinateRange(x, y, z)) continue;
        c.x = int32_t(x);
        c.y = int32_t(y);
        c.z = int32_t(z);
        box.hi = {std::max(box.hi[0], c.x), std::max(box.hi[1], c.y), std::max(box.hi[2], c.z)};
        cells.push_back(c);
    }
    cancelPaste();
    doc_->placeParts(cells, "paste");
    anchor_.reset();
    setSelection(box);
    return true;
}

void CCellforgeView::setSelection(const std::optional<CellBox>& box) {
    if (box == selection_) return;
    selection_ = box;
    if (!box) anchor_.reset();
    renderer_.invalidate();
    update();
    emit selectionChanged();
}

std::optional<CellPosition> CCellforgeView::cellAt(QPoint pos) {
    if (auto hit = partAt(pos)) return CellPosition{hit->x, hit->y, hit->z};
    return std::nullopt;
}

QPoint CCellforgeView::pointerPos() const {
    const QPoint p = mapFromGlobal(QCursor::pos());
    if (rect().contains(p)) return p;
    return hovering_ ? hoverPos_ : rect().center();
}

CellPosition CCellforgeView::placeTarget(QPoint pos) {
    const Camera c = camera();
    const double px = pos.x() + 0.5, py = pos.y() + 0.5;
    if (auto hit = partAt(pos)) return cellInFrontOf(c, width(), height(), px, py, {hit->x, hit->y, hit->z});
    return cellAlongRay(c, width(), height(), px, py, 10.0);
}

void CCellforgeView::clickAt(QPoint pos, Qt::KeyboardModifiers modifiers) {
    if (!doc_) return;
    if (pasting()) {
        finishPaste(placeTarget(pos));
        return;
    }
    switch (tool_) {
    case EditTool::Select: {
        const std::optional<CellPosition> hit = cellAt(pos);
        if (!hit) {
            if (!(modifiers & Qt::ShiftModifier)) setSelection(std::nullopt);
            return;
        }
        if ((modifiers & Qt::ShiftModifier) && anchor_) {
            setSelection(CellBox::spanning(*anchor_, *hit));
        } else {
            anchor_ = *hit;
            setSelection(CellBox::spanning(*hit, *hit));
        }
        return;
    }
    case EditTool::Place: {
        const CellPosition at = placeTarget(pos);
        if (!Universe::inCoordinateRange(at.x, at.y, at.z)) return;
        doc_->placeParts({makePart(choice_.type, choice_.front, choice_.side, at)}, "place");
        return;
    }
    case EditTool::Erase: {
        const std::optional<CellPosition> hit = cellAt(pos);
        if (!hit) return;
        UniverseCell empty;
        empty.x = hit->x;
        empty.y = hit->y;
        empty.z = hit->z;
        doc_->recordEdit("erase", [empty](Universe& u) { editCell(u, empty); }, sizeof empty);
        return;
    }
    }
}

namespace {
std::vector<CellPosition> positionsIn(CellforgeDocument& doc, const CellBox& box) {
    std::vector<CellPosition> out;
    doc.withUniverse([&](Universe& u) {
        for (const UniverseCell& c : partsInBox(u, box.lo.data(), box.hi.data())) out.push_back({c.x, c.y, c.z});
    });
    return out;
}
}  // namespace

bool CCellforgeView::turnSelection(bool clockwise) {
    if (!doc_ || !selection_) return false;
    CellBox turned;
    const PartTransform t = turnInView(camera(), *selection_, clockwise, turned);
    auto positions = std::make_shared<const std::vector<CellPosition>>(positionsIn(doc_->engine(), *selection_));
    if (!positions->empty())
        doc_->recordEdit(clockwise ? "turn right" : "turn left",
                         [positions, t](Universe& u) { ::transformParts(u, *positions, t); },
                         positions->size() * sizeof(CellPosition) + sizeof t);
    anchor_.reset();
    setSelection(turned);
    return true;
}

bool CCellforgeView::mirrorSelection() {
    if (!doc_ || !selection_) return false;
    const PartTransform t = mirrorInView(camera(), *selection_);
    auto positions = std::make_shared<const std::vector<CellPosition>>(positionsIn(doc_->engine(), *selection_));
    if (!positions->empty())
        doc_->recordEdit("mirror", [positions, t](Universe& u) { ::transformParts(u, *positions, t); },
                         positions->size() * sizeof(CellPosition) + sizeof t);
    return true;
}

bool CCellforgeView::turnAt(QPoint pos, bool clockwise) {
    const std::optional<CellPosition> hit = cellAt(pos);
    if (!hit) return false;
    if (selection_ && selection_->contains(*hit)) return turnSelection(clockwise);
    const CellBox one = CellBox::spanning(*hit, *hit);
    CellBox turned;
    const PartTransform t = turnInView(camera(), one, clockwise, turned);
    const std::vector<CellPosition> positions{*hit};
    doc_->recordEdit(clockwise ? "turn right" : "turn left",
                     [positions, t](Universe& u) { ::transformParts(u, positions, t); },
                     sizeof(CellPosition) + sizeof t);
    return true;
}

bool CCellforgeView::eraseSelection() {
    if (!doc_ || !selection_) return false;
    const CellBox box = *selection_;
    doc_->recordEdit("erase selection", [box](Universe& u) { ::eraseBox(u, box.lo.data(), box.hi.data()); },
                     sizeof box);
    setSelection(std::nullopt);
    return true;
}

void CCellforgeView::mousePressEvent(QMouseEvent* event) {
    MouseButton b = MouseButton::None;
    if (event->button() == Qt::LeftButton)
        b = MouseButton::Left;
    else if (event->button() == Qt::RightButton)
        b = MouseButton::Right;
    else if (event->button() == Qt::MiddleButton)
        b = MouseButton::Middle;
    if (b != MouseButton::None && navigator_.button() == MouseButton::None) {
        const QPoint pos = event->position().toPoint();
        // Ctrl with the left button orbits about the point under the pointer.
        const bool orbit = b == MouseButton::Left && (event->modifiers() & Qt::ControlModifier);
        // Only a pan and an orbit need to know how far away the grabbed point is.
        const double distance = b == MouseButton::Left && !orbit ? 10.0 : distanceUnder(pos);
        navigator_.press(b, pos.x(), pos.y(), distance);
        if (orbit) navigator_.orbitAround(pointAlongRay(pos, distance));
    }
    QOpenGLWidget::mousePressEvent(event);
}

void CCellforgeView::mouseMoveEvent(QMouseEvent* event) {
    const QPoint pos = event->position().toPoint();
    if (navigator_.button() != MouseButton::None) {
        Camera c = camera();
        bool movedEye = false;
        if (navigator_.move(pos.x(), pos.y(), height(), c, movedEye)) {
            // As with the keys: a turn must not overwrite a centre the
            // worker may just have shifted.
            if (movedEye)
                setCamera(c);
            else {
                alt_ = c.alt;
                az_ = c.az;
                cameraMoved();
            }
        }
    } else {
        hoverPos_ = pos;
        hovering_ = true;
        hoverPending_ = true;
        if (pasting()) {
            pasteTargetPending_ = true;
            update();
        }
    }
    QOpenGLWidget::mouseMoveEvent(event);
}

void CCellforgeView::mouseReleaseEvent(QMouseEvent* event) {
    if (navigator_.button() != MouseButton::None && !(event->buttons() & (Qt::LeftButton | Qt::RightButton | Qt::MiddleButton))) {
        // A left press that never became a drag is a click for the tool.
        const bool click = navigator_.button() == MouseButton::Left && !navigator_.dragging() &&
                           event->button() == Qt::LeftButton;
        // A right press that never became a pan opens the part's menu.
        const bool menuClick = navigator_.button() == MouseButton::Right && !navigator_.dragging() &&
                               event->button() == Qt::RightButton;
        navigator_.release();
        if (click) clickAt(event->position().toPoint(), event->modifiers());
        if (menuClick && doc_ && !pasting()) {
            if (QMenu* menu = partMenu(event->position().toPoint(), this)) {
                menu->setAttribute(Qt::WA_DeleteOnClose);
                menu->popup(event->globalPosition().toPoint());
            }
        }
    }
    QOpenGLWidget::mouseReleaseEvent(event);
}

void CCellforgeView::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta != 0) {
        const double distance = distanceUnder(event->position().toPoint());
        Camera c = camera();
        wheelStep(c, delta / 120.0, distance);
        setCamera(c);
    }
    event->accept();
}

void CCellforgeView::leaveEvent(QEvent* event) {
    hovering_ = false;
    hoverPending_ = true;
    QOpenGLWidget::leaveEvent(event);
}

void CCellforgeView::renderNow() {
    update();
    repaint();
}

bool CCellforgeView::saveBitmap(const QString& path) {
    if (!contextReady_ || !outputAllowed(path.toStdString(), OutputPolicy::RegularOnly)) return false;
    makeCurrent();
    const qreal dpr = devicePixelRatio();
    // PNG for a .png name, the bitmap file otherwise.
    bool ok = saveWindowPicture(int(width() * dpr), int(height() * dpr), path.toStdString());
    doneCurrent();
    return ok;
}

QImage CCellforgeView::picture() {
    if (!contextReady_) return {};
    return grabFramebuffer();
}

bool CCellforgeView::writeDriveCoordinates(const QString& path) {
    if (!doc_ || !contextReady_ || !outputAllowed(path.toStdString(), OutputPolicy::RegularOnly)) return false;
    makeCurrent();
    bool ok = ::writeDriveCoordinates(camera(), doc_->universe(), &doc_->driver(), path.toStdString());
    doneCurrent();
    return ok;
}

void CCellforgeView::keyPressEvent(QKeyEvent* event) {
    // Virtual-key codes: letters by their upper-case code, whatever the shift
    // state; auto-repeat gives one step per repeat.
    int vk = 0;
    const int key = event->key();
    if (key >= Qt::Key_A && key <= Qt::Key_Z)
        vk = 'A' + (key - Qt::Key_A);
    else if (key == Qt::Key_Space)
        vk = 0x20;
    if (key == Qt::Key_Escape && pasting()) {
        cancelPaste();
        return;
    }
    if (key == Qt::Key_R && doc_ && !(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier))) {
        turnAt(pointerPos(), !(event->modifiers() & Qt::ShiftModifier));
        vk = 0;
    }
    if (vk != 0 && doc_) {
        Camera c = camera();
        if (handleCameraKey(c, vk, &doc_->universe())) {
            // Only steps move the eye; turning must not overwrite a centre
            // the worker may just have shifted.
            if (vk == KeyForward || vk == KeyBack)
                setCamera(c);
            else {
                alt_ = c.alt;
                az_ = c.az;
                cameraMoved();
            }
        }
    }
    QOpenGLWidget::keyPressEvent(event);
}
