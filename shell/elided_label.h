// A status-bar pane whose text, when too long for the pane, loses its middle
// rather than its end, so both the start (a part's position and type) and
// the end (its terminal) stay readable. The whole text is the tooltip.
#pragma once

#include <QLabel>

class ElidedLabel : public QLabel {
    Q_OBJECT
public:
    explicit ElidedLabel(QWidget* parent = nullptr);
    void setFullText(const QString& text);
    // What the pane shows at its present width.
    QString shownText() const;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};
