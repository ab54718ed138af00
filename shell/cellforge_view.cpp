#include "shell/cellforge_view.h"

#include <QKeyEvent>
#include <QSurfaceFormat>
#include <QTimer>

#include "shell/animation_run.h"
#include "shell/cellforge_doc.h"
#include "shell/main_frame.h"
#include "view/bitmap.h"
#include "view/drive_dump.h"

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
    // A double-buffered RGBA surface with at least 24 colour bits and a depth buffer.
    QSurfaceFormat f = format();
    f.setRedBufferSize(8);
    f.setGreenBufferSize(8);
    f.setBlueBufferSize(8);
    f.setDepthBufferSize(24);
    f.setSwapBehavior(QSurfaceFormat::DoubleBuffer);
    f.setProfile(QSurfaceFormat::CompatibilityProfile);
    setFormat(f);
    if (doc_) doc_->addView(this);
}

CCellforgeView::~CCellforgeView() {
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
}

void CCellforgeView::showEvent(QShowEvent* event) {
    QOpenGLWidget::showEvent(event);
    if (surfaceChecked_) return;
    surfaceChecked_ = true;
    // The surface is made on the first show. Without it the view stays black
    // and draws nothing; say so once, the way the binding failures are named.
    QTimer::singleShot(0, this, [this] {
        if (!isValid())
            CMainFrame::showMessage(QStringLiteral("SetPixelFormat failed"));
        else if (format().redBufferSize() < 8 || format().greenBufferSize() < 8 || format().blueBufferSize() < 8 ||
                 format().depthBufferSize() <= 0)
            CMainFrame::showMessage(QStringLiteral("ChoosePixelFormat failed"));
    });
}

void CCellforgeView::initializeGL() {
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
    FrameResult r = renderer_.renderFrame(camera(), doc_->universe(), &doc_->driver());
    if (!r.drawn) return;
    lastFrame_ = r;
    ++framesDrawn_;
    doc_->engine().frameDrawn();
    const SceneSnapshot& s = renderer_.lastSnapshot();
    if (CMainFrame* frame = CMainFrame::instance())
        frame->setStatusLine(QString::fromStdString(statusLine(s)));
    if (frameOutputDue(frameOutput_, s.generation)) {
        std::string path = frameFileName(frameOutput_.folder.toStdString(), frameOutput_.prefix.toStdString(),
                                         frameOutput_.counter);
        const qreal dpr = devicePixelRatio();
        saveWindowBitmap(int(width() * dpr), int(height() * dpr), path);
        ++frameOutput_.counter;  // advances whether or not the file was written
    }
}

void CCellforgeView::renderNow() {
    update();
    repaint();
}

bool CCellforgeView::saveBitmap(const QString& path) {
    if (!contextReady_) return false;
    makeCurrent();
    const qreal dpr = devicePixelRatio();
    bool ok = saveWindowBitmap(int(width() * dpr), int(height() * dpr), path.toStdString());
    doneCurrent();
    return ok;
}

bool CCellforgeView::writeDriveCoordinates(const QString& path) {
    if (!doc_ || !contextReady_) return false;
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
            }
        }
    }
    QOpenGLWidget::keyPressEvent(event);
}
