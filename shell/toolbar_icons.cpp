#include "shell/toolbar_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QImage>
#include <QPixmap>
#include <QLinearGradient>

#include <algorithm>

#include "shell/commands.h"

namespace {

QPixmap blank() {
    QPixmap p(16, 15);
    p.fill(Qt::transparent);
    return p;
}

// The look of a disabled button: the dark outline in grey, everything else
// gone. The style's own greying keeps light icons (a white page with grey
// lines) looking almost as they do when enabled, so a disabled Settings or
// Write EPS button would pass for an enabled one.
QPixmap disabledLook(const QPixmap& pm) {
    QImage in = pm.toImage().convertToFormat(QImage::Format_ARGB32);
    QImage out(in.size(), QImage::Format_ARGB32);
    out.fill(Qt::transparent);
    for (int y = 0; y < in.height(); ++y)
        for (int x = 0; x < in.width(); ++x) {
            const QRgb c = in.pixel(x, y);
            if (qAlpha(c) < 128) continue;
            if (qGray(c) < 100) out.setPixel(x, y, qRgba(128, 128, 128, 255));
        }
    return QPixmap::fromImage(out);
}

}  // namespace

QIcon toolbarIcon(int id) {
    QPixmap pm = blank();
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QColor dark(0, 0, 0);
    switch (id) {
    case cmd::FileOpen:  // an opening folder
        p.setPen(dark);
        p.setBrush(QColor(255, 255, 0));
        p.drawRect(1, 4, 11, 8);
        p.setBrush(QColor(192, 192, 0));
        p.drawPolygon(QPolygon({QPoint(1, 12), QPoint(4, 7), QPoint(15, 7), QPoint(12, 12)}));
        break;
    case cmd::NoHandlerButton:  // a blank page
        p.setPen(dark);
        p.setBrush(Qt::white);
        p.drawRect(3, 1, 9, 12);
        break;
    case cmd::FilePrint:  // a printer
        p.setPen(dark);
        p.setBrush(Qt::white);
        p.drawRect(4, 1, 7, 5);
        p.setBrush(QColor(192, 192, 192));
        p.drawRect(1, 6, 13, 5);
        p.setBrush(Qt::white);
        p.drawRect(4, 10, 7, 3);
        break;
    case cmd::About:  // a question mark
        p.setPen(QPen(QColor(0, 0, 128), 2));
        p.drawArc(4, 1, 7, 6, 180 * 16, -270 * 16);
        p.drawLine(8, 7, 8, 9);
        p.drawPoint(8, 12);
        break;
    case cmd::Go:  // play triangle
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 128, 0));
        p.drawPolygon(QPolygon({QPoint(3, 1), QPoint(13, 7), QPoint(3, 13)}));
        break;
    case cmd::Stop:  // square
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(192, 0, 0));
        p.drawRect(3, 3, 10, 9);
        break;
    case cmd::Step:  // triangle and bar
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 160));
        p.drawPolygon(QPolygon({QPoint(2, 2), QPoint(10, 7), QPoint(2, 12)}));
        p.drawRect(11, 2, 3, 11);
        break;
    case cmd::GoSlow:  // two small triangles
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 128, 128));
        p.drawPolygon(QPolygon({QPoint(1, 4), QPoint(7, 7), QPoint(1, 10)}));
        p.drawPolygon(QPolygon({QPoint(8, 4), QPoint(14, 7), QPoint(8, 10)}));
        break;
    case cmd::Settings:  // a slider panel
        p.setPen(dark);
        for (int y : {3, 7, 11}) p.drawLine(2, y, 13, y);
        p.setBrush(QColor(128, 128, 128));
        p.drawRect(4, 2, 2, 2);
        p.drawRect(9, 6, 2, 2);
        p.drawRect(6, 10, 2, 2);
        break;
    case cmd::WriteDriveCoordinates:  // a page with an arrow
        p.setPen(dark);
        p.setBrush(Qt::white);
        p.drawRect(2, 1, 9, 12);
        p.setPen(QColor(128, 128, 128));
        p.drawLine(5, 7, 14, 7);
        p.drawLine(12, 5, 14, 7);
        p.drawLine(12, 9, 14, 7);
        break;
    case cmd::FitAll:  // a cube inside four corner marks
        p.setPen(dark);
        p.drawLine(1, 1, 4, 1);
        p.drawLine(1, 1, 1, 4);
        p.drawLine(11, 1, 14, 1);
        p.drawLine(14, 1, 14, 4);
        p.drawLine(1, 13, 4, 13);
        p.drawLine(1, 10, 1, 13);
        p.drawLine(11, 13, 14, 13);
        p.drawLine(14, 10, 14, 13);
        p.setBrush(QColor(0, 0, 255));
        p.drawRect(5, 6, 5, 5);
        p.setBrush(QColor(255, 255, 0));
        p.drawPolygon(QPolygon({QPoint(5, 6), QPoint(7, 4), QPoint(12, 4), QPoint(10, 6)}));
        break;
    default:
        break;
    }
    p.end();
    QIcon icon(pm);
    icon.addPixmap(disabledLook(pm), QIcon::Disabled);
    return icon;
}

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 32, 64}) {
        QPixmap pm(size, size);
        pm.fill(Qt::transparent);
        QPainter p(&pm);
        p.setRenderHint(QPainter::Antialiasing, true);
        const double s = size / 32.0;
        auto pt = [s](double x, double y) { return QPointF(x * s, y * s); };
        p.setPen(QPen(Qt::black, std::max(1.0, s)));
        // top face yellow (the front half), sides fading to blue
        p.setBrush(QColor(255, 255, 0));
        p.drawPolygon(QPolygonF({pt(16, 2), pt(30, 9), pt(16, 16), pt(2, 9)}));
        QLinearGradient left(pt(2, 9), pt(2, 30));
        left.setColorAt(0, QColor(255, 255, 0));
        left.setColorAt(1, QColor(0, 0, 255));
        p.setBrush(left);
        p.drawPolygon(QPolygonF({pt(2, 9), pt(16, 16), pt(16, 30), pt(2, 23)}));
        QLinearGradient right(pt(30, 9), pt(30, 30));
        right.setColorAt(0, QColor(200, 200, 0));
        right.setColorAt(1, QColor(0, 0, 160));
        p.setBrush(right);
        p.drawPolygon(QPolygonF({pt(30, 9), pt(16, 16), pt(16, 30), pt(30, 23)}));
        p.end();
        icon.addPixmap(pm);
    }
    return icon;
}
