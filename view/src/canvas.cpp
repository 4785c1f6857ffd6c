#include "view/canvas.h"

#include <cstdlib>

namespace pulsara {

std::vector<Point> LinePixels(Point from, Point to) {
    std::vector<Point> pixels;
    const int dx = std::abs(to.x - from.x);
    const int dy = std::abs(to.y - from.y);
    const int sx = from.x < to.x ? 1 : -1;
    const int sy = from.y < to.y ? 1 : -1;
    int error = dx - dy;
    Point p = from;
    while (p != to) {
        pixels.push_back(p);
        const int twice = 2 * error;
        if (twice > -dy) {
            error -= dy;
            p.x += sx;
        }
        if (twice < dx) {
            error += dx;
            p.y += sy;
        }
    }
    return pixels;
}

} // namespace pulsara
