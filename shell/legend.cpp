#include "shell/legend.h"

#include <QGridLayout>
#include <QLabel>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "view/navigation.h"
#include "view/part_geometry.h"

QColor screenColour(const Rgb& c) {
    auto byte = [](float v) { return int(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f)); };
    return QColor(byte(c.r), byte(c.g), byte(c.b));
}

PartSwatch::PartSwatch(int32_t partType, QWidget* parent) : QWidget(parent), type_(partType) {
    setObjectName(QStringLiteral("swatch%1").arg(partType));
    setMinimumSize(sizeHint());
    setToolTip(QString::fromStdString(partTypeName(partType)));
}

QPoint PartSwatch::stripeCentre(int j) const {
    const int x0 = j * width() / 8, x1 = (j + 1) * width() / 8;
    return {(x0 + x1) / 2, height() / 2};
}

void PartSwatch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    const auto& colours = partColours(type_);
    for (int j = 0; j < 8; ++j) {
        const int x0 = j * width() / 8, x1 = (j + 1) * width() / 8;
        p.fillRect(QRect(x0, 0, x1 - x0, height()), screenColour(colours[size_t(j)]));
    }
}

PartLegend::PartLegend(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("legend"));
    auto* grid = new QGridLayout(this);
    for (int32_t type = 1; type <= 10; ++type) {
        grid->addWidget(new PartSwatch(type, this), type - 1, 0);
        auto* name = new QLabel(QString::fromStdString(partTypeName(type)), this);
        name->setObjectName(QStringLiteral("legendName%1").arg(type));
        grid->addWidget(name, type - 1, 1);
    }
    grid->setRowStretch(10, 1);
}
