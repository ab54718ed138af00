// CCellforgeView: one 3D view of a document, an OpenGL widget.
//
// Each view has its own camera, frame-output fields and Settings description.
// The eye position lives in a ViewCentre because the worker shifts the first
// view's centre when the tracked terminal moves; the angles are only ever
// written on the user-interface thread.
//
// A repaint draws one frame through the view library (the worker is paused
// only while the universe is copied), lets a slow-running worker take one
// more generation, writes the status line and, when frame output is on,
// saves the frame that was just drawn.
//
// The frame is drawn into a target of the view's own with the deepest depth
// buffer on offer and copied to the widget, whose own depth buffer is too
// shallow for distant machines; as that target keeps its picture, a frame
// that would show exactly what the last one showed is not drawn again. The
// mouse drives the camera through a MouseNavigator (Ctrl with a left drag
// orbits about the point under the pointer at the press: the part there,
// else the point at the depth of the drawn parts); hovering picks the part
// under the pointer once per drawn frame at most (each pick holds the worker
// briefly), never per mouse event.
//
// Clicks (a press and release without a drag) belong to the current tool:
// the select tool selects the part under the pointer (Shift extends the
// selection to the box spanning both parts), the place tool puts the
// palette's part on the empty cell in front of the face under the pointer,
// the erase tool erases the part under the pointer. A right click (a press
// and release without a pan) over a part offers Watch, which adds the
// part's front signal to the Signals pane. R and Shift+R turn the
// part or selection under the pointer. The selection is a box of cells,
// drawn as a wire box over the frame with its drawn parts outlined; it is
// the view's own, so two windows on one document select apart.
//
// The view knows no main window: it reports its status line, hover text and
// messages through signals, and whoever shows them connects to those.
#pragma once

#include <QElapsedTimer>
#include <QImage>
#include <array>
#include <QOpenGLWidget>
#include <QPoint>
#include <QString>
#include <cstdint>
#include <optional>

#include "shell/edit_ops.h"
#include "universe/driver.h"
#include "view/camera.h"
#include "view/depth_target.h"
#include "view/navigation.h"
#include "view/scene.h"

class CCellforgeDoc;
class QMenu;

// The box around the bulk of a frame's parts: along each axis the parts
// between the 5th and 95th percentile, widened by that span again (at least
// 16 cells) on each side, and then the box around every part inside that;
// `outside` counts the parts beyond it. False when nothing was drawn.
bool bulkBounds(const SceneSnapshot& snapshot, Bounds& box, size_t& outside);

struct FrameOutput {
    QString folder;
    QString prefix;
    int32_t interval = 0;  // 0: off
    int32_t counter = 0;
    uint32_t lastGeneration = 0xFFFFFFFFu;
};

// The frame-output decision: true when generation g is to be saved; then the
// last frame generation becomes g. Wrapping unsigned arithmetic as the
// counters themselves wrap.
bool frameOutputDue(FrameOutput& out, uint32_t generation);

enum class EditTool { Select, Place, Erase };

// The part the place tool puts down: one palette for the whole program.
struct PartChoice {
    int32_t type = 1;
    int32_t front = 0;
    int32_t side = 1;
};

class CCellforgeView : public QOpenGLWidget {
    Q_OBJECT
public:
    static void setTool(EditTool tool) { tool_ = tool; }
    static EditTool tool() { return tool_; }
    static void setPartChoice(const PartChoice& choice) { choice_ = choice; }
    static PartChoice partChoice() { return choice_; }

    const std::optional<CellBox>& selection() const { return selection_; }
    void setSelection(const std::optional<CellBox>& box);
    // Shrinks the selection to the parts still in it, or drops it when none
    // are left (the document's timeline moved: undo, redo, reset, rewind).
    void clipSelectionToParts();
    // What a click at a window position does with the current tool.
    void clickAt(QPoint pos, Qt::KeyboardModifiers modifiers);
    // Turns the selection when the pointer is over it, else the part under
    // the pointer; false when there is neither.
    bool turnAt(QPoint pos, bool clockwise);
    // Turns or mirrors the selection (one undo step each).
    bool turnSelection(bool clockwise);
    bool mirrorSelection();
    // Erases the selection and forgets it; false when there is none.
    bool eraseSelection();
    // The empty cell where placing or pasting at a window position puts the
    // low corner: in front of the face under it, else ten cells along the ray.
    CellPosition placeTarget(QPoint pos);
    // Where the pointer last was over the view, else the view's centre.
    QPoint pointerPos() const;
    // Paste with a preview: the cells (counted from their low corner at the
    // origin) follow the pointer as a wire box until a click places them
    // (one undo step; they become the selection) or Esc drops them.
    void beginPaste(std::vector<UniverseCell> cells);
    bool pasting() const { return !pasteCells_.empty(); }
    // Places the pending paste with its low corner at the cell; false when
    // none is pending.
    bool finishPaste(const CellPosition& at);
    void cancelPaste();
    // Where the pending paste would go now, once the pointer has been over
    // the view.
    const std::optional<CellPosition>& pasteTarget() const { return pasteTarget_; }

    explicit CCellforgeView(CCellforgeDoc* doc, QWidget* parent = nullptr);
    ~CCellforgeView() override;

    CCellforgeDoc* document() const { return doc_; }

    Camera camera() const;
    void setCamera(const Camera& c);
    ViewCentre& centre() { return centre_; }

    FrameOutput& frameOutput() { return frameOutput_; }
    QString description() const { return description_; }
    void setDescription(const QString& d) { description_ = d; }

    // Draws a frame now (the animation runner's step 2).
    void renderNow();
    // Saves what the view last drew: PNG for a .png name, else a bitmap file.
    bool saveBitmap(const QString& path);
    // The picture as the last frame drew it, at device pixels; a null image
    // before the first frame.
    QImage picture();
    // "Write EPS...": Drive coordinates through this view's projection.
    bool writeDriveCoordinates(const QString& path);

    // The last frame's counters, for tests and the status line.
    const SceneSnapshot& lastSnapshot() const { return renderer_.lastSnapshot(); }
    const FrameResult& lastFrame() const { return lastFrame_; }
    qint64 framesDrawn() const { return framesDrawn_; }

    // Frames drawn and generations advanced per second over the last
    // second or so; both 0 until a second has been measured.
    double framesPerSecond() const { return fps_; }
    double generationsPerSecond() const { return gps_; }

    // The part under a window position, read with the worker paused; none
    // for empty space.
    std::optional<PickedPart> partAt(QPoint pos);
    // Watches the part under a window position in the Signals pane (its
    // front face); false with nothing under it or when it is watched already.
    bool watchAt(QPoint pos);
    // The menu a right click (without a drag) opens over a part: "Watch";
    // none over empty space. The caller owns the menu.
    QMenu* partMenu(QPoint pos, QWidget* parent);
    // The status-bar line for the part under a window position ("" for
    // none), with its bound terminal's name.
    QString describePartAt(QPoint pos);
    // The box around what the last frame drew, taking a fresh copy of the
    // universe when nothing has been drawn yet. False for an empty view.
    bool drawnBox(Bounds& box);
    // "Fit All": frames the bulk of the drawn parts from the fixed angle,
    // leaving out runaway parts far from the rest (a Drive that drove off);
    // asked again at once, or with `everything`, frames every drawn part.
    // Nothing fitted (camera unchanged) when nothing is drawn.
    struct FitOutcome {
        bool fitted = false;
        bool everything = false;  // every drawn part is in the frame
        size_t outside = 0;       // runaway parts left outside the frame
    };
    FitOutcome fitAll(bool everything = false);
    // Depth bits of the drawing target (0 before the first frame).
    int depthBits() const { return depthTarget_.depthBits(); }

    QSize sizeHint() const override { return QSize(480, 360); }
    QSize minimumSizeHint() const override { return QSize(160, 120); }

signals:
    // The counters line after every drawn frame.
    void statusLineChanged(const QString& line);
    // The line for the part under the pointer; empty when there is none.
    void hoverTextChanged(const QString& text);
    // What a view operation did or could not do (frame output).
    void message(const QString& text);
    void selectionChanged();
    // A part was added to the document's signal lanes.
    void partWatched();

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    // Distance to what lies under pos, else to the drawn parts, else 10.
    double distanceUnder(QPoint pos);
    // The world point `distance` along the ray through pos.
    std::array<double, 3> pointAlongRay(QPoint pos, double distance) const;
    void measureSpeed();
    void updateHover();
    // The camera moved: the hover line described what used to be under the
    // pointer.
    void cameraMoved();

    void drawSelection();
    void drawPastePreview();
    void updatePasteTarget();
    std::optional<CellPosition> cellAt(QPoint pos);

    static inline EditTool tool_ = EditTool::Select;
    static inline PartChoice choice_{};
    std::optional<CellBox> selection_;
    std::optional<CellPosition> anchor_;  // the part a Shift+click extends from
    std::vector<UniverseCell> pasteCells_;  // a pending paste, from the origin
    std::array<int32_t, 3> pasteExtent_{0, 0, 0};
    std::optional<CellPosition> pasteTarget_;
    bool pasteTargetPending_ = false;

    CCellforgeDoc* doc_;
    ViewCentre centre_;
    float alt_ = 0;
    float az_ = 0;
    FrameOutput frameOutput_;
    QString description_;
    SceneRenderer renderer_;
    ViewSize size_;
    FrameResult lastFrame_;
    qint64 framesDrawn_ = 0;
    bool contextReady_ = false;
    bool surfaceChecked_ = false;
    DepthTarget depthTarget_;
    bool reusingFrames_ = false;
    MouseNavigator navigator_;
    QPoint hoverPos_;
    bool hoverPending_ = false;
    bool hovering_ = false;
    QString hoverText_;
    std::optional<Camera> lastBulkFit_;  // where the last Fit All that left parts out put the eye
    QElapsedTimer speedClock_;
    qint64 speedFrames_ = 0;
    uint32_t speedGeneration_ = 0;
    double fps_ = 0;
    double gps_ = 0;
};
