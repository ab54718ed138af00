#include "shell/elided_label.h"

#include <QPainter>
#include <QStyle>

ElidedLabel::ElidedLabel(QWidget* parent) : QLabel(parent) {
    setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
}

void ElidedLabel::setFullText(const QString& text) {
    if (text == this->text()) return;
    setText(text);
    setToolTip(text);
}

QString ElidedLabel::shownText() const {
    return fontMetrics().elidedText(text(), Qt::ElideMiddle, contentsRect().width());
}

QSize ElidedLabel::sizeHint() const { return QSize(fontMetrics().averageCharWidth() * 40, QLabel::sizeHint().height()); }

QSize ElidedLabel::minimumSizeHint() const { return QSize(0, QLabel::minimumSizeHint().height()); }

void ElidedLabel::paintEvent(QPaintEvent*) {
    QPainter p(this);
    drawFrame(&p);
    style()->drawItemText(&p, contentsRect(), Qt::AlignLeft | Qt::AlignVCenter, palette(), isEnabled(), shownText(),
                          foregroundRole());
}
