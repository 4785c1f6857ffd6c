// screen_image: the on-screen test's eyes. Finds where a headless render sits in a
// screenshot, and compares a screenshot's region with a render pixel for pixel.
//   screen_image find SHOT.png NEEDLE.png          prints "X Y" of the first exact match
//   screen_image compare SHOT.png X Y EXPECTED.png DIFF.png
// Exit status: 0 found / equal, 1 not found / different, 2 bad arguments or files.

#include <QGuiApplication>
#include <QImage>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

QImage Load(const char* path) {
    QImage image(QString::fromLocal8Bit(path));
    if (image.isNull()) {
        std::fprintf(stderr, "screen_image: cannot read %s\n", path);
        return {};
    }
    return image.convertToFormat(QImage::Format_RGB32);
}

// Rows are compared as memory, so a search over a whole screen stays quick: most
// positions fail at the first row's first pixels.
bool MatchesAt(const QImage& shot, const QImage& needle, int x, int y) {
    const auto rowBytes = static_cast<std::size_t>(needle.width()) * 4;
    for (int row = 0; row < needle.height(); ++row) {
        const auto* a = reinterpret_cast<const QRgb*>(shot.constScanLine(y + row)) + x;
        if (std::memcmp(a, needle.constScanLine(row), rowBytes) != 0) {
            return false;
        }
    }
    return true;
}

std::optional<QPoint> Find(const QImage& shot, const QImage& needle) {
    for (int y = 0; y + needle.height() <= shot.height(); ++y) {
        for (int x = 0; x + needle.width() <= shot.width(); ++x) {
            if (MatchesAt(shot, needle, x, y)) {
                return QPoint(x, y);
            }
        }
    }
    return std::nullopt;
}

// Differing pixels in red over a dimmed copy of the expected image.
int Compare(const QImage& shot, int x, int y, const QImage& expected, const char* diffPath) {
    QImage diff = expected.copy();
    int differing = 0;
    for (int row = 0; row < expected.height(); ++row) {
        for (int col = 0; col < expected.width(); ++col) {
            const bool inside = x + col < shot.width() && y + row < shot.height();
            const QRgb want = expected.pixel(col, row);
            if (inside && shot.pixel(x + col, y + row) == want) {
                diff.setPixel(
                    col, row,
                    qRgb(qGray(want) / 2 + 128, qGray(want) / 2 + 128, qGray(want) / 2 + 128));
            } else {
                ++differing;
                diff.setPixel(col, row, qRgb(255, 0, 0));
            }
        }
    }
    if (differing != 0) {
        diff.save(QString::fromLocal8Bit(diffPath));
        std::printf("%d pixels differ (diff in %s)\n", differing, diffPath);
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication application(argc, argv);
    if (argc == 4 && std::strcmp(argv[1], "find") == 0) {
        const QImage shot = Load(argv[2]);
        const QImage needle = Load(argv[3]);
        if (shot.isNull() || needle.isNull()) {
            return 2;
        }
        const auto at = Find(shot, needle);
        if (!at) {
            return 1;
        }
        std::printf("%d %d\n", at->x(), at->y());
        return 0;
    }
    if (argc == 7 && std::strcmp(argv[1], "compare") == 0) {
        const QImage shot = Load(argv[2]);
        const QImage expected = Load(argv[5]);
        if (shot.isNull() || expected.isNull()) {
            return 2;
        }
        return Compare(shot, std::atoi(argv[3]), std::atoi(argv[4]), expected, argv[6]);
    }
    std::fprintf(stderr, "usage: screen_image find SHOT NEEDLE | compare SHOT X Y EXPECTED DIFF\n");
    return 2;
}
