#pragma once
// What "rendered, not blank" means for the tests: enough pixels that differ from the most
// common colour, and more than a couple of colours in all.

#include <QColor>
#include <QHash>
#include <QImage>

namespace kx::test {

struct ImageStats {
    int distinctColours = 0;
    double nonBackgroundShare = 0;  // share of pixels unlike the most common colour
};

inline ImageStats Measure(const QImage& source) {
    const QImage image = source.convertToFormat(QImage::Format_ARGB32);
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            ++counts[image.pixel(x, y)];
        }
    }
    int most = 0;
    for (int n : counts) {
        most = std::max(most, n);
    }
    const int total = image.width() * image.height();
    return {int(counts.size()), total == 0 ? 0.0 : double(total - most) / total};
}

inline bool LooksDrawn(const QImage& image, double minShare = 0.02) {
    const ImageStats s = Measure(image);
    return !image.isNull() && s.distinctColours >= 3 && s.nonBackgroundShare >= minShare;
}

}  // namespace kx::test
