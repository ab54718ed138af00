#include "shell/signals_pane.h"

#include <QContextMenuEvent>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "shell/cellforge_doc.h"

namespace {
const QColor kBackground(16, 20, 24);
const QColor kLaneRule(44, 50, 58);
const QColor kHighFill(28, 64, 36);
const QColor kText(210, 214, 220);
const QColor kCursor(255, 208, 0);
}  // namespace

SignalsPane::SignalsPane(QWidget* parent) : QWidget(parent) {
    setMouseTracking(true);
    setAttribute(Qt::WA_OpaquePaintEvent);
    updateHeight();
}

void SignalsPane::setDocument(CCellforgeDoc* doc) {
    if (doc == doc_) return;
    doc_ = doc;
    rows_ = SignalRows{};
    updateHeight();
    update();
}

void SignalsPane::refresh() {
    const size_t lanesBefore = rows_.lanes.size();
    rows_ = doc_ ? doc_->signalWatch().copyRows() : SignalRows{};
    if (rows_.lanes.size() != lanesBefore) updateHeight();
    update();
    const QString r = readout();
    if (r != lastReadout_) {
        lastReadout_ = r;
        emit readoutChanged(r);
    }
}

void SignalsPane::setSpan(int generations) {
    span_ = std::clamp(generations, kMinSpan, int(SignalWatch::kRows));
    update();
}

void SignalsPane::updateHeight() {
    setMinimumHeight(kHeaderHeight + std::max<int>(1, int(rows_.lanes.size())) * kLaneHeight + 4);
}

QSize SignalsPane::sizeHint() const {
    return QSize(kLabelWidth + 420, kHeaderHeight + std::max<int>(4, int(rows_.lanes.size())) * kLaneHeight + 4);
}

QSize SignalsPane::minimumSizeHint() const { return QSize(kLabelWidth + 120, kHeaderHeight + kLaneHeight + 4); }

QRect SignalsPane::traceRect() const {
    const int lanes = int(rows_.lanes.size());
    return QRect(kLabelWidth, kHeaderHeight, std::max(1, width() - kLabelWidth - 4), lanes * kLaneHeight);
}

int SignalsPane::highY(int lane) const { return kHeaderHeight + lane * kLaneHeight + 5; }

int SignalsPane::lowY(int lane) const { return kHeaderHeight + (lane + 1) * kLaneHeight - 6; }

int SignalsPane::laneAt(QPoint pos) const {
    if (pos.y() < kHeaderHeight) return -1;
    const int lane = (pos.y() - kHeaderHeight) / kLaneHeight;
    return lane < int(rows_.lanes.size()) ? lane : -1;
}

int64_t SignalsPane::firstShown() const {
    const int64_t last = rows_.rows() ? int64_t(rows_.generations.back()) : 0;
    return last - span_ + 1;
}

double SignalsPane::columnWidth() const { return double(traceRect().width()) / span_; }

std::optional<int> SignalsPane::xOfGeneration(uint32_t generation) const {
    if (rows_.rows() == 0) return std::nullopt;
    const int64_t first = firstShown();
    if (int64_t(generation) < first || generation > rows_.generations.back()) return std::nullopt;
    return traceRect().left() + int(std::floor((double(int64_t(generation) - first) + 0.5) * columnWidth()));
}

std::optional<uint32_t> SignalsPane::generationAt(int x) const {
    const QRect t = traceRect();
    if (rows_.rows() == 0 || x < t.left() || x > t.right()) return std::nullopt;
    const int64_t g = firstShown() + int64_t(std::floor((x - t.left()) / columnWidth()));
    if (g < 0 || g > int64_t(rows_.generations.back())) return std::nullopt;
    return uint32_t(g);
}

void SignalsPane::setCursorAt(std::optional<QPoint> pos) {
    cursor_ = pos;
    update();
    const QString r = readout();
    if (r != lastReadout_) {
        lastReadout_ = r;
        emit readoutChanged(r);
    }
}

QString SignalsPane::readout() const {
    if (!cursor_) return QString();
    const std::optional<uint32_t> g = generationAt(cursor_->x());
    if (!g) return QString();
    const long row = rows_.rowOf(*g);
    if (row < 0) return QString();
    QStringList parts;
    for (size_t l = 0; l < rows_.lanes.size(); ++l)
        parts << QStringLiteral("%1=%2").arg(QString::fromStdString(rows_.lanes[l].name)).arg(rows_.value(size_t(row), l));
    return QStringLiteral("generation %1: %2").arg(*g).arg(parts.join(QLatin1Char(' ')));
}

QMenu* SignalsPane::laneMenu(int lane, QWidget* parent) {
    if (!doc_ || lane < 0 || lane >= int(rows_.lanes.size())) return nullptr;
    auto* menu = new QMenu(parent);
    QAction* remove = menu->addAction(QStringLiteral("Remove"));
    remove->setObjectName(QStringLiteral("removeLane"));
    QPointer<CCellforgeDoc> doc = doc_;
    connect(remove, &QAction::triggered, this, [this, doc, lane] {
        if (!doc) return;
        doc->signalWatch().removeLane(size_t(lane));
        refresh();
    });
    return menu;
}

void SignalsPane::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    const QRect t = traceRect();
    const int lanes = int(rows_.lanes.size());
    p.setPen(kText);
    if (!doc_ || lanes == 0) {
        p.drawText(rect().adjusted(8, 0, -8, 0), Qt::AlignVCenter | Qt::TextWordWrap,
                   doc_ ? QStringLiteral("No signals: a project's monitored terminals show here; "
                                         "right-click a part in a view and choose Watch to add it")
                        : QStringLiteral("No document"));
        return;
    }
    const double cw = columnWidth();
    const int64_t first = firstShown();
    const int64_t last = rows_.rows() ? int64_t(rows_.generations.back()) : -1;

    // The generation axis: a tick every power of two that leaves room for its label.
    int64_t step = 1;
    while (step * cw < 64) step *= 2;
    QFont small = font();
    small.setPointSizeF(std::max(6.0, small.pointSizeF() - 1));
    p.setFont(small);
    for (int64_t g = std::max<int64_t>(0, (first + step - 1) / step * step); g <= last; g += step) {
        const int x = t.left() + int(std::floor(double(g - first) * cw));
        p.setPen(kLaneRule);
        p.drawLine(x, kHeaderHeight - 4, x, t.bottom());
        p.setPen(kText);
        p.drawText(QRect(x + 2, 0, 80, kHeaderHeight - 2), Qt::AlignLeft | Qt::AlignVCenter, QString::number(g));
    }

    // The value column shows the cursor's generation, else the newest.
    long shownRow = long(rows_.rows()) - 1;
    if (cursor_)
        if (auto g = generationAt(cursor_->x())) shownRow = rows_.rowOf(*g);

    p.setRenderHint(QPainter::Antialiasing, false);
    for (int l = 0; l < lanes; ++l) {
        const int top = kHeaderHeight + l * kLaneHeight;
        p.setPen(kLaneRule);
        p.drawLine(0, top + kLaneHeight - 1, width(), top + kLaneHeight - 1);
        p.setPen(kText);
        const QString name = QString::fromStdString(rows_.lanes[size_t(l)].name);
        p.drawText(QRect(4, top, kLabelWidth - 30, kLaneHeight), Qt::AlignLeft | Qt::AlignVCenter,
                   p.fontMetrics().elidedText(name, Qt::ElideLeft, kLabelWidth - 34));
        if (shownRow >= 0)
            p.drawText(QRect(kLabelWidth - 24, top, 18, kLaneHeight), Qt::AlignCenter,
                       QString::number(rows_.value(size_t(shownRow), size_t(l))));

        const int hi = highY(l), lo = lowY(l);
        QPen trace(traceColour());
        trace.setWidth(2);
        trace.setCapStyle(Qt::FlatCap);
        p.setPen(trace);
        // One stroke per run of equal values over consecutive generations:
        // 512 rows of a slow signal are a handful of strokes.
        auto xAt = [&](int64_t g) { return t.left() + int(std::floor(double(g - first) * cw)); };
        int prevY = -1;
        size_t r = 0;
        while (r < rows_.rows() && int64_t(rows_.generations[r]) < first) ++r;
        while (r < rows_.rows()) {
            const uint8_t v = rows_.value(r, size_t(l));
            const int64_t from = rows_.generations[r];
            size_t e = r + 1;
            while (e < rows_.rows() && rows_.value(e, size_t(l)) == v &&
                   rows_.generations[e] == rows_.generations[e - 1] + 1)
                ++e;
            const int64_t to = int64_t(rows_.generations[e - 1]) + 1;  // one past the run
            const int x0 = xAt(from), x1 = xAt(to);
            const int y = v ? hi : lo;
            if (v) p.fillRect(QRect(x0, hi + 2, std::max(1, x1 - x0), lo - hi - 3), kHighFill);
            // A change of level joins two runs; a gap in the record does not.
            const bool joined = r > 0 && rows_.generations[r] == rows_.generations[r - 1] + 1;
            if (prevY >= 0 && joined && prevY != y) p.drawLine(x0, prevY, x0, y);
            p.drawLine(x0, y, std::max(x0, x1), y);
            prevY = y;
            r = e;
        }
    }
    if (cursor_ && t.contains(QPoint(cursor_->x(), t.top()))) {
        p.setPen(kCursor);
        p.drawLine(cursor_->x(), 0, cursor_->x(), t.bottom());
        if (auto g = generationAt(cursor_->x())) {
            const QString label = QString::number(*g);
            const int w = p.fontMetrics().horizontalAdvance(label) + 6;
            const QRect box(std::min(cursor_->x() + 2, width() - w), 1, w, kHeaderHeight - 3);
            p.fillRect(box, kBackground);
            p.drawText(box, Qt::AlignCenter, label);
        }
    }
}

void SignalsPane::mouseMoveEvent(QMouseEvent* event) {
    setCursorAt(event->position().toPoint());
    QWidget::mouseMoveEvent(event);
}

void SignalsPane::leaveEvent(QEvent* event) {
    setCursorAt(std::nullopt);
    QWidget::leaveEvent(event);
}

void SignalsPane::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = laneMenu(laneAt(event->pos()), this);
    if (!menu) return;
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void SignalsPane::wheelEvent(QWheelEvent* event) {
    const int delta = event->angleDelta().y();
    if (delta > 0)
        setSpan(span_ / 2);
    else if (delta < 0)
        setSpan(span_ * 2);
    event->accept();
}
