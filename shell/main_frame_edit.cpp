// The main window's editing side: the Edit commands, the edit toolbar with
// its part palette and tools, Reset and Step Back, the timeline slider, and
// the question whether to save an edited document before it goes.
#include <QActionGroup>
#include <QApplication>
#include <QButtonGroup>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QDir>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QSlider>
#include <QToolBar>
#include <QToolButton>

#include "shell/cellforge_doc.h"
#include "shell/cellforge_view.h"
#include "shell/commands.h"
#include "shell/file_dialogs.h"
#include "shell/main_frame.h"
#include "shell/messages.h"
#include "view/navigation.h"
#include "view/part_geometry.h"

namespace {
QColor toColor(const Rgb& c) { return QColor::fromRgbF(c.r, c.g, c.b); }

// A palette button shows the part's front-half colours over its back-half
// ones, as the body's corners are coloured in the view.
QIcon partIcon(int32_t type) {
    const auto& colours = partColours(type);
    QPixmap pm(16, 16);
    QPainter p(&pm);
    p.fillRect(0, 0, 8, 8, toColor(colours[0]));
    p.fillRect(8, 0, 8, 8, toColor(colours[1]));
    p.fillRect(0, 8, 8, 8, toColor(colours[4]));
    p.fillRect(8, 8, 8, 8, toColor(colours[5]));
    p.setPen(Qt::black);
    p.drawRect(0, 0, 15, 15);
    return QIcon(pm);
}
}  // namespace

void CMainFrame::createEditBar() {
    editBar_ = new QToolBar(QStringLiteral("Edit"), this);
    editBar_->setObjectName(QStringLiteral("editbar"));
    editBar_->setAllowedAreas(Qt::AllToolBarAreas);
    editBar_->setToolButtonStyle(Qt::ToolButtonTextOnly);
    for (int id : editToolbarLayout()) {
        if (id == layout::Separator)
            editBar_->addSeparator();
        else
            editBar_->addAction(action(id));
    }
    auto* tools = new QActionGroup(this);
    tools->setExclusive(true);
    const std::pair<int, EditTool> toolIds[] = {
        {cmd::ToolSelect, EditTool::Select}, {cmd::ToolPlace, EditTool::Place}, {cmd::ToolErase, EditTool::Erase}};
    for (auto [id, tool] : toolIds) {
        tools->addAction(action(id));
        connect(action(id), &QAction::toggled, this, [t = tool](bool on) {
            if (on) CCellforgeView::setTool(t);
        });
    }
    editBar_->addSeparator();

    // The palette, down the left edge: the ten part types, and the way a
    // placed part faces.
    paletteBar_ = new QToolBar(QStringLiteral("Parts"), this);
    paletteBar_->setObjectName(QStringLiteral("palette"));
    paletteBar_->setAllowedAreas(Qt::AllToolBarAreas);
    paletteGroup_ = new QButtonGroup(paletteBar_);
    for (int32_t type = 1; type <= 10; ++type) {
        auto* b = new QToolButton(paletteBar_);
        b->setIcon(partIcon(type));
        b->setCheckable(true);
        b->setAutoRaise(true);
        const QString name = QString::fromStdString(partTypeName(type));
        b->setToolTip(name);
        b->setStatusTip(QStringLiteral("The place tool puts down a %1").arg(name));
        b->setObjectName(QStringLiteral("part%1").arg(type));
        paletteGroup_->addButton(b, type);
        paletteBar_->addWidget(b);
    }
    paletteGroup_->button(1)->setChecked(true);
    auto direction = [this](const QString& name, int initial) {
        auto* box = new QComboBox(paletteBar_);
        box->setObjectName(name);
        box->setToolTip(QStringLiteral("The direction a placed part's %1 faces").arg(name));
        for (int d = 0; d < 6; ++d) box->addItem(QString::fromLatin1(directionName(d)), d);
        box->setCurrentIndex(initial);
        return box;
    };
    paletteBar_->addSeparator();
    paletteBar_->addWidget(new QLabel(QStringLiteral("front"), paletteBar_));
    frontBox_ = direction(QStringLiteral("front"), 0);
    paletteBar_->addWidget(frontBox_);
    paletteBar_->addWidget(new QLabel(QStringLiteral("side"), paletteBar_));
    sideBox_ = direction(QStringLiteral("side"), 1);
    paletteBar_->addWidget(sideBox_);
    addToolBar(Qt::LeftToolBarArea, paletteBar_);
    auto choose = [this] {
        PartChoice c;
        c.type = paletteGroup_->checkedId() > 0 ? paletteGroup_->checkedId() : 1;
        c.front = frontBox_->currentIndex();
        c.side = sideBox_->currentIndex();
        CCellforgeView::setPartChoice(c);
    };
    connect(paletteGroup_, &QButtonGroup::idClicked, this, [this, choose](int) {
        choose();
        action(cmd::ToolPlace)->setChecked(true);  // picking a part is picking it up
    });
    connect(frontBox_, &QComboBox::currentIndexChanged, this, choose);
    connect(sideBox_, &QComboBox::currentIndexChanged, this, choose);
    choose();
    addToolBarBreak(Qt::TopToolBarArea);
    addToolBar(Qt::TopToolBarArea, editBar_);

    // The timeline: every generation the document can go back to.
    timelineBar_ = new QToolBar(QStringLiteral("Timeline"), this);
    timelineBar_->setObjectName(QStringLiteral("timelinebar"));
    timelineBar_->addWidget(new QLabel(QStringLiteral("Generation "), timelineBar_));
    timelineSlider_ = new QSlider(Qt::Horizontal, timelineBar_);
    timelineSlider_->setObjectName(QStringLiteral("timeline"));
    timelineSlider_->setStatusTip(QStringLiteral("Drag to a generation and let go to go back to it"));
    timelineSlider_->setRange(0, 0);
    timelineBar_->addWidget(timelineSlider_);
    timelineLabel_ = new QLabel(timelineBar_);
    timelineLabel_->setMinimumWidth(timelineLabel_->fontMetrics().horizontalAdvance(QStringLiteral("0000000000 of 0000000000")));
    timelineBar_->addWidget(timelineLabel_);
    connect(timelineSlider_, &QSlider::sliderMoved, this, [this](int value) {
        timelineLabel_->setText(QString::number(value));
    });
    connect(timelineSlider_, &QSlider::sliderReleased, this, [this] { jumpToGeneration(uint32_t(timelineSlider_->value())); });
    addToolBar(Qt::BottomToolBarArea, timelineBar_);

    connect(QApplication::clipboard(), &QClipboard::dataChanged, this, [this] { clipboardChecked_ = false; });
}

void CMainFrame::connectEditCommands() {
    using namespace cmd;
    auto on = [this](int id, auto handler) { connect(action(id), &QAction::triggered, this, handler); };
    on(EditUndo, [this] { onUndoRedo(false); });
    on(EditRedo, [this] { onUndoRedo(true); });
    on(EditCopy, [this] { copySelection(); });
    on(EditCut, [this] {
        if (copySelection())
            if (CCellforgeView* v = activeView()) v->eraseSelection();
    });
    // Paste shows where the parts would go, following the pointer, and a
    // click puts them there; Paste again while it shows puts them under the
    // pointer at once.
    on(EditPaste, [this] {
        CCellforgeView* v = activeView();
        if (!v) return;
        if (v->pasting()) {
            v->finishPaste(v->placeTarget(v->pointerPos()));
            return;
        }
        auto cells = cellsFromGridText(QApplication::clipboard()->text().toStdString(), {0, 0, 0});
        if (!cells || cells->empty()) {
            showTransient(QStringLiteral("The clipboard holds no grid text; nothing was pasted"));
            return;
        }
        v->beginPaste(std::move(*cells));
        showTransient(QStringLiteral("Paste: click where the parts go (the box shows where); Esc drops them"));
    });
    on(EditClear, [this] {
        if (CCellforgeView* v = activeView()) v->eraseSelection();
    });
    on(EditSelectAll, [this] {
        CCellforgeView* v = activeView();
        if (!v) return;
        std::optional<CellBox> box;
        v->document()->engine().withUniverse([&](Universe& u) { box = boxAroundParts(u); });
        v->setSelection(box);
    });
    on(TurnClockwise, [this] {
        if (CCellforgeView* v = activeView()) v->turnSelection(true);
    });
    on(TurnAnticlockwise, [this] {
        if (CCellforgeView* v = activeView()) v->turnSelection(false);
    });
    on(MirrorSelection, [this] {
        if (CCellforgeView* v = activeView()) v->mirrorSelection();
    });
    on(RunReset, [this] {
        CCellforgeDoc* d = activeDocument();
        QString error;
        if (d && !d->resetToLoad(error)) showTransient(QStringLiteral("Reset: %1").arg(error));
    });
    on(StepBack, [this] {
        CCellforgeDoc* d = activeDocument();
        if (!d) return;
        const CCellforgeDoc::TimelineState s = d->timelineState();
        if (s.generation == 0 || s.generation <= s.first) {
            showTransient(QStringLiteral("Step Back: generation %1 is the earliest one kept").arg(s.generation));
            return;
        }
        jumpToGeneration(s.generation - 1);
    });
    docs_->confirmClose = [this](CCellforgeDoc* d) { return confirmClose(d); };
}

void CMainFrame::jumpToGeneration(uint32_t generation) {
    CCellforgeDoc* d = activeDocument();
    if (!d) return;
    QString error;
    if (!d->rewindTo(generation, error)) showTransient(QStringLiteral("Could not go to generation %1: %2").arg(generation).arg(error));
    updateTimelineBar();
}

void CMainFrame::onUndoRedo(bool redo) {
    CCellforgeDoc* d = activeDocument();
    if (!d) return;
    QString error;
    if (!(redo ? d->redo(error) : d->undo(error)))
        showTransient(QStringLiteral("%1: %2").arg(redo ? QStringLiteral("Redo") : QStringLiteral("Undo"), error));
}

bool CMainFrame::copySelection() {
    CCellforgeView* v = activeView();
    if (!v || !v->selection()) return false;
    std::string text;
    const CellBox box = *v->selection();
    v->document()->engine().withUniverse([&](Universe& u) { text = selectionGridText(u, box); });
    if (text.empty()) {
        showTransient(QStringLiteral("The selection holds no parts; nothing was copied"));
        return false;
    }
    QApplication::clipboard()->setText(QString::fromStdString(text));
    clipboardChecked_ = false;
    return true;
}

bool CMainFrame::pasteAt(CCellforgeView* view, QPoint pos) {
    if (!view) return false;
    const CellPosition at = view->placeTarget(pos);
    const auto cells = cellsFromGridText(QApplication::clipboard()->text().toStdString(), at);
    if (!cells || cells->empty()) {
        showTransient(QStringLiteral("The clipboard holds no grid text; nothing was pasted"));
        return false;
    }
    view->document()->placeParts(*cells, "paste");
    // The pasted parts become the selection, ready to be turned or moved on.
    CellBox box{{at.x, at.y, at.z}, {at.x, at.y, at.z}};
    for (const UniverseCell& c : *cells) {
        const int32_t p[3] = {c.x, c.y, c.z};
        for (int k = 0; k < 3; ++k) box.hi[k] = std::max(box.hi[k], p[k]);
    }
    view->setSelection(box);
    return true;
}

bool CMainFrame::clipboardHoldsGrid() {
    if (!clipboardChecked_) {
        const std::string text = QApplication::clipboard()->text().toStdString();
        clipboardHoldsGrid_ = cellsFromGridText(text, {0, 0, 0}).has_value();
        clipboardChecked_ = true;
    }
    return clipboardHoldsGrid_;
}

void CMainFrame::updateTimelineBar() {
    CCellforgeDoc* d = activeDocument();
    if (!d) {
        showTimeline(nullptr);
        return;
    }
    const CCellforgeDoc::TimelineState s = d->timelineState();
    showTimeline(&s);
}

void CMainFrame::showTimeline(const CCellforgeDoc::TimelineState* state) {
    timelineSlider_->setEnabled(state != nullptr);
    if (!state) {
        timelineLabel_->clear();
        return;
    }
    if (timelineSlider_->isSliderDown()) return;  // the user holds it
    const CCellforgeDoc::TimelineState& s = *state;
    const uint32_t last = std::max(s.last, s.generation);
    timelineSlider_->blockSignals(true);
    timelineSlider_->setRange(int(std::min<uint32_t>(s.first, 0x7FFFFFFF)), int(std::min<uint32_t>(last, 0x7FFFFFFF)));
    timelineSlider_->setValue(int(std::min<uint32_t>(s.generation, 0x7FFFFFFF)));
    timelineSlider_->blockSignals(false);
    const QString text = QStringLiteral("%1 of %2").arg(s.generation).arg(last);
    if (timelineLabel_->text() != text) timelineLabel_->setText(text);
}

bool CMainFrame::confirmClose(CCellforgeDoc* d) {
    if (!d || !d->isModified()) return true;
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Cellforge"),
                    QStringLiteral("Save changes to %1?").arg(d->title()),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
    case QMessageBox::Discard: return true;
    case QMessageBox::Save: {
        auto path = dialogs_->saveFile(this, QStringLiteral("grd"), QStringLiteral("Grid Files (*.grd)|*.grd||"));
        if (!path) return false;
        if (d->onSaveDocument(*path)) return true;
        const QString why = outputProblem(*path);
        showTransient(QStringLiteral("Could not save the universe as %1: %2")
                          .arg(QDir::toNativeSeparators(QFileInfo(*path).absoluteFilePath()),
                               why.isEmpty() ? QStringLiteral("the file could not be written") : why));
        return false;
    }
    default: return false;
    }
}
