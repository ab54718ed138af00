// The legend: the ten part types, each with the colours the views paint it
// in and its name.
//
// Design note
//   A part's body carries eight colours, one per cube corner, and the view
//   takes them straight from the drawing tables (view/part_geometry.h). The
//   swatch paints the same eight records as eight stripes, in record order,
//   so the legend cannot drift from what the views draw: it has no colour
//   table of its own.
#pragma once

#include <QColor>
#include <QWidget>
#include <cstdint>

struct Rgb;

// The 8-bit colour the views put on screen for a drawing-table colour.
QColor screenColour(const Rgb& c);

// One part type's eight corner colours as stripes, left to right.
class PartSwatch : public QWidget {
    Q_OBJECT
public:
    explicit PartSwatch(int32_t partType, QWidget* parent = nullptr);
    int32_t partType() const { return type_; }
    // The centre of stripe j (0..7), in widget coordinates.
    QPoint stripeCentre(int j) const;
    QSize sizeHint() const override { return {96, 16}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int32_t type_;
};

// Ten rows: swatch and name, for types 1..10. Swatches are named
// "swatch<type>", name labels "legendName<type>".
class PartLegend : public QWidget {
    Q_OBJECT
public:
    explicit PartLegend(QWidget* parent = nullptr);
};
