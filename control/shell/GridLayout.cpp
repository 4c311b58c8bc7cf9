#include "GridLayout.h"

namespace monvid {

std::optional<GridShape> gridShape(int windowCount) {
    switch (windowCount) {
        case 1:
            return GridShape{1, 1};
        case 2:
            return GridShape{2, 1};
        case 4:
            return GridShape{2, 2};
        case 9:
            return GridShape{3, 3};
        case 16:
            return GridShape{4, 4};
        default:
            return std::nullopt;
    }
}

QRect gridCell(int windowCount, int index, const QSize& client) {
    const auto shape = gridShape(windowCount);
    if (!shape || index < 0 || index >= windowCount)
        return {};
    const int column = index % shape->columns, row = index / shape->columns;
    const int width = client.width(), height = client.height();
    return QRect(width * column / shape->columns, height * row / shape->rows,
                 width / shape->columns, height / shape->rows);
}

}  // namespace monvid
