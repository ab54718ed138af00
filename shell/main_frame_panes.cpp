// The main window's panes beside the views (the legend) and the picture on
// the clipboard.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDockWidget>
#include <QImage>
#include <QSlider>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QVBoxLayout>

#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/commands.h"
#include "shell/elided_label.h"
#include "shell/legend.h"
#include "shell/main_frame.h"
#include "shell/signals_pane.h"

void CMainFrame::createPanes() {
    legendDock_ = new QDockWidget(QStringLiteral("Legend"), this);
    legendDock_->setObjectName(QStringLiteral("legendDock"));
    legendDock_->setWidget(new PartLegend(legendDock_));
    addDockWidget(Qt::RightDockWidgetArea, legendDock_);
    legendDock_->hide();
    QAction* legend = action(cmd::ViewLegend);
    connect(legend, &QAction::toggled, legendDock_, &QDockWidget::setVisible);
    // Closing the dock by its own button unchecks the menu item; a window
    // being hidden as a whole does not.
    connect(legendDock_, &QDockWidget::visibilityChanged, legend, [this, legend](bool) {
        if (!isHidden()) legend->setChecked(!legendDock_->isHidden());
    });

    signalsDock_ = new QDockWidget(QStringLiteral("Signals"), this);
    signalsDock_->setObjectName(QStringLiteral("signalsDock"));
    auto* holder = new QWidget(signalsDock_);
    auto* column = new QVBoxLayout(holder);
    column->setContentsMargins(2, 2, 2, 2);
    column->setSpacing(2);
    auto* readout = new ElidedLabel(holder);
    readout->setObjectName(QStringLiteral("signalsReadout"));
    auto* scroller = new QScrollArea(holder);
    scroller->setWidgetResizable(true);
    signalsPane_ = new SignalsPane(scroller);
    signalsPane_->setObjectName(QStringLiteral("signalsPane"));
    scroller->setWidget(signalsPane_);
    column->addWidget(readout);
    column->addWidget(scroller, 1);
    signalsDock_->setWidget(holder);
    addDockWidget(Qt::BottomDockWidgetArea, signalsDock_);
    signalsDock_->hide();
    QAction* signalsItem = action(cmd::ViewSignals);
    connect(signalsItem, &QAction::toggled, signalsDock_, &QDockWidget::setVisible);
    // Floating or docking the pane hides it for a moment; only a hide that
    // lasts (its close button) unchecks the item and so stops the recording.
    connect(signalsDock_, &QDockWidget::visibilityChanged, signalsItem, [this, signalsItem](bool) {
        QTimer::singleShot(0, signalsItem, [this, signalsItem] {
            if (!isHidden()) signalsItem->setChecked(!signalsDock_->isHidden());
        });
    });
    connect(signalsItem, &QAction::toggled, this, &CMainFrame::refreshSignals);
    readout->setFullText(QStringLiteral("Point at the traces to read a generation's values"));
    connect(signalsPane_, &SignalsPane::readoutChanged, readout, [readout](const QString& text) {
        readout->setFullText(text.isEmpty() ? QStringLiteral("Point at the traces to read a generation's values") : text);
    });

    connect(action(cmd::CopyPicture), &QAction::triggered, this, [this] {
        if (copyPicture())
            showTransient(QStringLiteral("The view's picture is on the clipboard"));
        else
            showTransient(QStringLiteral("No picture to copy yet"));
    });

    connect(action(cmd::ViewStatistics), &QAction::triggered, this, [this] {
        if (auto s = statistics()) {
            StatisticsDialog dialog(*s, this);
            dialog.exec();
        }
    });
}

void CMainFrame::refreshSignals() {
    // Recording follows the menu item, not the dock's window: a dock being
    // floated or docked again is hidden for a moment, and a minimised main
    // window keeps its lanes running.
    const bool shown = action(cmd::ViewSignals)->isChecked() && !closing_;
    for (CCellforgeDoc* d : documents()) d->signalWatch().setActive(shown);
    if (!signalsPane_) return;
    signalsPane_->setDocument(shown ? activeDocument() : nullptr);
    if (shown) signalsPane_->refresh();
}

void CMainFrame::createPaceControl() {
    paceSlider_ = new QSlider(Qt::Horizontal, statusBar());
    paceSlider_->setObjectName(QStringLiteral("slowPace"));
    paceSlider_->setRange(0, CCellforgeDoc::kMaxSlowPaceMs / kPaceStepMs);
    paceSlider_->setPageStep(1);
    paceSlider_->setFixedWidth(90);
    paceSlider_->setToolTip(QStringLiteral("Go Slow's pace: one generation per frame (left) to one per second"));
    paceSlider_->setStatusTip(paceSlider_->toolTip());
    paceSlider_->setEnabled(false);
    statusBar()->addPermanentWidget(paceSlider_);
    connect(paceSlider_, &QSlider::valueChanged, this, [this](int step) {
        if (CCellforgeDoc* d = activeDocument()) d->setSlowPace(step * kPaceStepMs);
        updateSpeedPane();
    });
}

std::optional<UniverseStatistics> CMainFrame::statistics() {
    CCellforgeView* v = activeView();
    CCellforgeDoc* d = activeDocument();
    if (!v || !d) return std::nullopt;
    UniverseStatistics s;
    d->engine().withUniverse([&](Universe& u) { s = gatherStatistics(u); });
    s.rate = v->generationsPerSecond();
    return s;
}

bool CMainFrame::copyPicture() {
    CCellforgeView* v = activeView();
    if (!v) return false;
    const QImage image = v->picture();
    if (image.isNull()) return false;
    QApplication::clipboard()->setImage(image);
    return true;
}
