// Cells of the window grid: 1, 2, 4, 9 or 16 equal cells, row by row.
#pragma once

#include <QRect>

#include <optional>

namespace monvid {

struct GridShape {
    int columns;
    int rows;
};

// The shape for a window count, or nothing for a count the grid does not lay out.
std::optional<GridShape> gridShape(int windowCount);

inline bool gridShapeKnown(int windowCount) {
    return gridShape(windowCount).has_value();
}

// Rectangle of window `index` among `windowCount` in a client area of the given size. Cells
// are client / columns wide and client / rows high (truncating), at column × width / columns.
QRect gridCell(int windowCount, int index, const QSize& client);

}  // namespace monvid
