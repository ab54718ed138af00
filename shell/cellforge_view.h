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
#pragma once

#include <QOpenGLWidget>
#include <QString>
#include <cstdint>

#include "universe/driver.h"
#include "view/camera.h"
#include "view/scene.h"

class CCellforgeDoc;

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

class CCellforgeView : public QOpenGLWidget {
    Q_OBJECT
public:
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
    // Saves what the view last drew as a bitmap file.
    bool saveBitmap(const QString& path);
    // "Write EPS...": Drive coordinates through this view's projection.
    bool writeDriveCoordinates(const QString& path);

    // The last frame's counters, for tests and the status line.
    const SceneSnapshot& lastSnapshot() const { return renderer_.lastSnapshot(); }
    const FrameResult& lastFrame() const { return lastFrame_; }
    qint64 framesDrawn() const { return framesDrawn_; }

protected:
    void initializeGL() override;
    void resizeGL(int w, int h) override;
    void paintGL() override;
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
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
};
