// What the desktop's edit commands compute before they touch a universe:
// selection boxes, the grid text that goes on the clipboard, where a placed
// part lands, and the quarter turns and mirrors of the view's axes.
//
// Design note
//   Everything here is arithmetic on cells and a camera, with no widgets, so
//   the edit commands can be checked without a window. The changes
//   themselves go through the engine's edit operations (universe/edits.h)
//   and the document's timeline, exactly as a script's edits do.
//
//   The clipboard holds ordinary grid text: the selected parts only,
//   counted from the selection's low corner, so pasting puts the low corner
//   on the target cell. A bond to a part outside the selection is dropped,
//   since its partner does not travel with it. Regions and terminal
//   bindings stay with the universe they belong to.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "universe/edits.h"
#include "view/camera.h"

// An inclusive box of cells, lo <= hi on every axis.
struct CellBox {
    std::array<int32_t, 3> lo{0, 0, 0};
    std::array<int32_t, 3> hi{0, 0, 0};
    static CellBox spanning(const CellPosition& a, const CellPosition& b);
    bool contains(const CellPosition& p) const;
    bool operator==(const CellBox&) const = default;
};

// The box around every part of the universe; none when it is empty.
std::optional<CellBox> boxAroundParts(const Universe& universe);
// The box around the parts still inside `box`; none when it holds none
// (what is left of a selection after its parts went).
std::optional<CellBox> clipToParts(const Universe& universe, const CellBox& box);

// The selected parts as grid text, relative to the box's low corner; empty
// text when the box holds no part.
std::string selectionGridText(const Universe& universe, const CellBox& box);

// The parts of grid text, moved so its low corner (the smallest x, y and z
// of its parts) lands on `at`. None when the text holds no part or is not
// grid text from its start.
std::optional<std::vector<UniverseCell>> cellsFromGridText(const std::string& text, const CellPosition& at);

// The world axis (0 x, 1 y, 2 z) nearest a view direction.
int nearestAxis(const std::array<double, 3>& direction);

// A quarter turn about the axis the view shows as vertical (`clockwise`
// as seen from above), or a mirror across the axis it shows as horizontal,
// applied to the parts in `box` and anchored so the turned box keeps the low
// corner of the original one. `turned` receives the box the parts occupy
// afterwards.
PartTransform turnInView(const Camera& camera, const CellBox& box, bool clockwise, CellBox& turned);
PartTransform mirrorInView(const Camera& camera, const CellBox& box);

// The empty cell in front of the face of `hit` that the ray through the
// pixel first meets: the face whose plane the ray enters the cube through.
CellPosition cellInFrontOf(const Camera& camera, int width, int height, double px, double py,
                           const CellPosition& hit);
// Where a part goes when the pointer is over nothing: the cell `distance`
// along the ray.
CellPosition cellAlongRay(const Camera& camera, int width, int height, double px, double py, double distance);

// A part of `type` facing `front` with `side`, its up derived as the grid
// reader derives it. A side parallel to the front is replaced by the next
// direction that is not.
UniverseCell makePart(int32_t type, int32_t front, int32_t side, const CellPosition& at);
