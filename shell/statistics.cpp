#include "shell/statistics.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <algorithm>
#include <bit>

#include "universe/universe.h"
#include "view/navigation.h"

UniverseStatistics gatherStatistics(const Universe& universe) {
    UniverseStatistics s;
    s.blocks = universe.blockCount();
    s.activeBlocks = universe.activeBlockCount;
    s.generation = universe.generation;
    universe.forEachBlock([&](const UniverseBlock* b) {
        for (uint16_t m = b->occupied; m; m &= uint16_t(m - 1)) {
            const int slot = std::countr_zero(unsigned(m));
            const int32_t type = b->partType(slot);
            ++s.byType[type >= 1 && type <= 10 ? size_t(type) : 0];
            ++s.parts;
            const int32_t at[3] = {b->cellX(slot), b->cellY(slot), b->cellZ(slot)};
            for (int k = 0; k < 3; ++k) {
                s.lo[k] = s.haveParts ? std::min(s.lo[k], at[k]) : at[k];
                s.hi[k] = s.haveParts ? std::max(s.hi[k], at[k]) : at[k];
            }
            s.haveParts = true;
        }
    });
    return s;
}

StatisticsDialog::StatisticsDialog(const UniverseStatistics& s, QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Statistics"));
    auto* form = new QFormLayout(this);
    auto row = [&](const QString& label, const QString& key, const QString& value) {
        auto* l = new QLabel(value, this);
        l->setObjectName(QStringLiteral("stat") + key);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(label, l);
    };
    row(QStringLiteral("Generation"), QStringLiteral("Generation"), QString::number(s.generation));
    row(QStringLiteral("Generations per second"), QStringLiteral("Rate"), QString::number(s.rate, 'f', 1));
    row(QStringLiteral("Parts"), QStringLiteral("Parts"), QString::number(s.parts));
    for (int32_t type = 1; type <= 10; ++type)
        row(QStringLiteral("    ") + QString::fromStdString(partTypeName(type)), QStringLiteral("Type%1").arg(type),
            QString::number(s.byType[size_t(type)]));
    if (s.byType[0]) row(QStringLiteral("    other types"), QStringLiteral("Other"), QString::number(s.byType[0]));
    row(QStringLiteral("Blocks"), QStringLiteral("Blocks"), QString::number(s.blocks));
    row(QStringLiteral("Active blocks"), QStringLiteral("Active"), QString::number(s.activeBlocks));
    row(QStringLiteral("Bounding box"), QStringLiteral("Box"),
        s.haveParts ? QStringLiteral("%1 %2 %3 to %4 %5 %6")
                          .arg(s.lo[0])
                          .arg(s.lo[1])
                          .arg(s.lo[2])
                          .arg(s.hi[0])
                          .arg(s.hi[1])
                          .arg(s.hi[2])
                    : QStringLiteral("no parts"));
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    form->addRow(buttons);
}
