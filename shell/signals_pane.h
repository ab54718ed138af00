// SignalsPane: the active document's signal lanes drawn as logic-analyser
// traces over the last generations the document's SignalWatch kept.
//
// Design note
//   The pane holds a copy of the record (SignalWatch::copyRows, taken with
//   the worker held), so painting and the cursor never touch the universe.
//   The newest row stands at the right edge; while the universe runs, each
//   copy moves the generation axis left. `span` generations fill the trace
//   area (the wheel halves or doubles it). The cursor is the pointer over the
//   traces: it names the generation under it and each lane's value there.
#pragma once

#include <QPointer>
#include <QWidget>
#include <optional>

#include "shell/signal_watch.h"

class CCellforgeDoc;
class QMenu;

class SignalsPane : public QWidget {
    Q_OBJECT
public:
    static constexpr int kLaneHeight = 24;
    static constexpr int kHeaderHeight = 20;
    static constexpr int kLabelWidth = 170;
    static constexpr int kMinSpan = 16;

    explicit SignalsPane(QWidget* parent = nullptr);

    // The document shown; none clears the pane.
    void setDocument(CCellforgeDoc* doc);
    CCellforgeDoc* document() const { return doc_; }
    // Copies the record again (the worker is held for the copy) and repaints.
    void refresh();
    const SignalRows& rows() const { return rows_; }

    // Generations across the trace area, kMinSpan to SignalWatch::kRows.
    void setSpan(int generations);
    int span() const { return span_; }

    // ---- geometry (widget coordinates)
    QRect traceRect() const;
    int highY(int lane) const;  // where a lane's trace runs while its signal is on
    int lowY(int lane) const;   // and while it is off
    // The lane at a position (-1 for none).
    int laneAt(QPoint pos) const;
    // The middle of a generation's column; none when it is not shown.
    std::optional<int> xOfGeneration(uint32_t generation) const;
    std::optional<uint32_t> generationAt(int x) const;

    // The cursor: where the pointer is over the traces (tests set it).
    void setCursorAt(std::optional<QPoint> pos);
    // "generation G: lane=v ..." for the generation under the cursor; empty
    // when the cursor is away or the generation is not kept.
    QString readout() const;

    // The context menu for a lane ("Remove"); none off the lanes.
    QMenu* laneMenu(int lane, QWidget* parent);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static QColor traceColour() { return QColor(64, 224, 96); }

signals:
    void readoutChanged(const QString& text);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // The first generation shown at the left edge.
    int64_t firstShown() const;
    double columnWidth() const;
    void updateHeight();

    QPointer<CCellforgeDoc> doc_;
    SignalRows rows_;
    int span_ = int(SignalWatch::kRows);
    std::optional<QPoint> cursor_;
    QString lastReadout_;
};
