#include "imaging/WuQuantizer.h"

#include <QHash>
#include <QSet>
#include <algorithm>
#include <array>
#include <limits>

namespace imaging {

namespace {

constexpr int Side = 33; // 32 levels per channel plus the zero border of the cumulative sums
constexpr int Cells = Side * Side * Side;

constexpr int At(int r, int g, int b)
{
    return (r * Side + g) * Side + b;
}

struct Box
{
    int r0, r1, g0, g1, b0, b1; // exclusive lower, inclusive upper bounds
    int volume;
};

struct Moments
{
    std::vector<qint64> weight = std::vector<qint64>(Cells);
    std::vector<qint64> red = std::vector<qint64>(Cells);
    std::vector<qint64> green = std::vector<qint64>(Cells);
    std::vector<qint64> blue = std::vector<qint64>(Cells);
    std::vector<double> square = std::vector<double>(Cells);

    void add(QRgb pixel)
    {
        const int r = qRed(pixel), g = qGreen(pixel), b = qBlue(pixel);
        const int cell = At((r >> 3) + 1, (g >> 3) + 1, (b >> 3) + 1);
        weight[cell] += 1;
        red[cell] += r;
        green[cell] += g;
        blue[cell] += b;
        square[cell] += double(r * r + g * g + b * b);
    }

    // Turns the histogram into cumulative moments over the box from the origin to each cell.
    void accumulate()
    {
        for (int r = 1; r < Side; ++r) {
            std::array<qint64, Side * Side> aw{}, ar{}, ag{}, ab{};
            std::array<double, Side * Side> a2{};
            for (int g = 1; g < Side; ++g) {
                qint64 lw = 0, lr = 0, lg = 0, lb = 0;
                double l2 = 0;
                for (int b = 1; b < Side; ++b) {
                    const int cell = At(r, g, b);
                    lw += weight[cell];
                    lr += red[cell];
                    lg += green[cell];
                    lb += blue[cell];
                    l2 += square[cell];
                    const int plane = g * Side + b;
                    aw[plane] = aw[plane - Side] + lw;
                    ar[plane] = ar[plane - Side] + lr;
                    ag[plane] = ag[plane - Side] + lg;
                    ab[plane] = ab[plane - Side] + lb;
                    a2[plane] = a2[plane - Side] + l2;
                    const int below = At(r - 1, g, b);
                    weight[cell] = weight[below] + aw[plane];
                    red[cell] = red[below] + ar[plane];
                    green[cell] = green[below] + ag[plane];
                    blue[cell] = blue[below] + ab[plane];
                    square[cell] = square[below] + a2[plane];
                }
            }
        }
    }
};

template <typename T> T Volume(const Box& c, const std::vector<T>& m)
{
    return m[At(c.r1, c.g1, c.b1)] - m[At(c.r1, c.g1, c.b0)] - m[At(c.r1, c.g0, c.b1)] +
           m[At(c.r1, c.g0, c.b0)] - m[At(c.r0, c.g1, c.b1)] + m[At(c.r0, c.g1, c.b0)] +
           m[At(c.r0, c.g0, c.b1)] - m[At(c.r0, c.g0, c.b0)];
}

enum class Axis
{
    Red,
    Green,
    Blue
};

// The part of a box's moment that lies below its lower bound on `axis` (with sign).
template <typename T> T Bottom(const Box& c, Axis axis, const std::vector<T>& m)
{
    switch (axis) {
    case Axis::Red:
        return -m[At(c.r0, c.g1, c.b1)] + m[At(c.r0, c.g1, c.b0)] + m[At(c.r0, c.g0, c.b1)] -
               m[At(c.r0, c.g0, c.b0)];
    case Axis::Green:
        return -m[At(c.r1, c.g0, c.b1)] + m[At(c.r1, c.g0, c.b0)] + m[At(c.r0, c.g0, c.b1)] -
               m[At(c.r0, c.g0, c.b0)];
    case Axis::Blue:
        break;
    }
    return -m[At(c.r1, c.g1, c.b0)] + m[At(c.r1, c.g0, c.b0)] + m[At(c.r0, c.g1, c.b0)] -
           m[At(c.r0, c.g0, c.b0)];
}

// The same for the box cut at `position` on `axis`.
template <typename T> T Top(const Box& c, Axis axis, int position, const std::vector<T>& m)
{
    switch (axis) {
    case Axis::Red:
        return m[At(position, c.g1, c.b1)] - m[At(position, c.g1, c.b0)] - m[At(position, c.g0, c.b1)] +
               m[At(position, c.g0, c.b0)];
    case Axis::Green:
        return m[At(c.r1, position, c.b1)] - m[At(c.r1, position, c.b0)] - m[At(c.r0, position, c.b1)] +
               m[At(c.r0, position, c.b0)];
    case Axis::Blue:
        break;
    }
    return m[At(c.r1, c.g1, position)] - m[At(c.r1, c.g0, position)] - m[At(c.r0, c.g1, position)] +
           m[At(c.r0, c.g0, position)];
}

double Variance(const Box& c, const Moments& m)
{
    const double r = double(Volume(c, m.red)), g = double(Volume(c, m.green)), b = double(Volume(c, m.blue));
    const double w = double(Volume(c, m.weight));
    if (w <= 0)
        return 0;
    return Volume(c, m.square) - (r * r + g * g + b * b) / w;
}

// Where to cut `c` on `axis` for the largest between-halves separation; -1 when no cut is possible.
double Maximize(const Box& c, Axis axis, int first, int last, int& cut, const Moments& m, qint64 wholeR,
                qint64 wholeG, qint64 wholeB, qint64 wholeW)
{
    const qint64 baseR = Bottom(c, axis, m.red), baseG = Bottom(c, axis, m.green);
    const qint64 baseB = Bottom(c, axis, m.blue), baseW = Bottom(c, axis, m.weight);
    double best = 0;
    cut = -1;
    for (int i = first; i < last; ++i) {
        qint64 halfR = baseR + Top(c, axis, i, m.red), halfG = baseG + Top(c, axis, i, m.green);
        qint64 halfB = baseB + Top(c, axis, i, m.blue), halfW = baseW + Top(c, axis, i, m.weight);
        if (halfW == 0)
            continue;
        double value =
            (double(halfR) * halfR + double(halfG) * halfG + double(halfB) * halfB) / double(halfW);
        halfR = wholeR - halfR;
        halfG = wholeG - halfG;
        halfB = wholeB - halfB;
        halfW = wholeW - halfW;
        if (halfW == 0)
            continue;
        value += (double(halfR) * halfR + double(halfG) * halfG + double(halfB) * halfB) / double(halfW);
        if (value > best) {
            best = value;
            cut = i;
        }
    }
    return best;
}

void SetVolume(Box& box)
{
    box.volume = (box.r1 - box.r0) * (box.g1 - box.g0) * (box.b1 - box.b0);
}

bool Cut(Box& first, Box& second, const Moments& m)
{
    const qint64 wholeR = Volume(first, m.red), wholeG = Volume(first, m.green);
    const qint64 wholeB = Volume(first, m.blue), wholeW = Volume(first, m.weight);
    int cutR, cutG, cutB;
    const double maxR =
        Maximize(first, Axis::Red, first.r0 + 1, first.r1, cutR, m, wholeR, wholeG, wholeB, wholeW);
    const double maxG =
        Maximize(first, Axis::Green, first.g0 + 1, first.g1, cutG, m, wholeR, wholeG, wholeB, wholeW);
    const double maxB =
        Maximize(first, Axis::Blue, first.b0 + 1, first.b1, cutB, m, wholeR, wholeG, wholeB, wholeW);
    Axis axis;
    if (maxR >= maxG && maxR >= maxB) {
        axis = Axis::Red;
        if (cutR < 0)
            return false; // not splittable
    } else if (maxG >= maxR && maxG >= maxB) {
        axis = Axis::Green;
    } else {
        axis = Axis::Blue;
    }
    second.r1 = first.r1;
    second.g1 = first.g1;
    second.b1 = first.b1;
    switch (axis) {
    case Axis::Red:
        second.r0 = first.r1 = cutR;
        second.g0 = first.g0;
        second.b0 = first.b0;
        break;
    case Axis::Green:
        second.g0 = first.g1 = cutG;
        second.r0 = first.r0;
        second.b0 = first.b0;
        break;
    case Axis::Blue:
        second.b0 = first.b1 = cutB;
        second.r0 = first.r0;
        second.g0 = first.g0;
        break;
    }
    SetVolume(first);
    SetVolume(second);
    return true;
}

} // namespace

QList<QRgb> WuQuantizer::buildPalette(const QImage& source, int maxColors)
{
    maxColors = std::clamp(maxColors, 1, 256);
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    if (image.isNull())
        return {};
    // A picture with few colours (most screens) keeps them exactly.
    QSet<QRgb> distinct;
    for (int y = 0; y < image.height() && distinct.size() <= maxColors; ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        QRgb previous = ~(row[0] | 0xff000000u);
        for (int x = 0; x < image.width() && distinct.size() <= maxColors; ++x)
            if ((row[x] | 0xff000000u) != previous) {
                previous = row[x] | 0xff000000u;
                distinct.insert(previous);
            }
    }
    if (distinct.size() <= maxColors) {
        QList<QRgb> exact(distinct.begin(), distinct.end());
        std::sort(exact.begin(), exact.end());
        return exact;
    }
    Moments moments;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        for (int x = 0; x < image.width(); ++x)
            moments.add(row[x]);
    }
    moments.accumulate();

    std::vector<Box> boxes(maxColors);
    std::vector<double> variance(maxColors, 0.0);
    boxes[0] = {0, 32, 0, 32, 0, 32, 0};
    SetVolume(boxes[0]);
    int count = 1;
    int next = 0;
    for (int i = 1; i < maxColors; ++i) {
        if (Cut(boxes[next], boxes[i], moments)) {
            variance[next] = boxes[next].volume > 1 ? Variance(boxes[next], moments) : 0.0;
            variance[i] = boxes[i].volume > 1 ? Variance(boxes[i], moments) : 0.0;
            count = i + 1;
        } else {
            variance[next] = 0.0;
            --i; // this box cannot be cut; try the next best
        }
        next = 0;
        double best = variance[0];
        for (int k = 1; k < count; ++k)
            if (variance[k] > best) {
                best = variance[k];
                next = k;
            }
        if (best <= 0.0)
            break;
    }

    QList<QRgb> palette;
    for (int i = 0; i < count; ++i) {
        const qint64 weight = Volume(boxes[i], moments.weight);
        if (weight <= 0)
            continue;
        palette.append(qRgb(int(Volume(boxes[i], moments.red) / weight),
                            int(Volume(boxes[i], moments.green) / weight),
                            int(Volume(boxes[i], moments.blue) / weight)));
    }
    return palette;
}

std::vector<quint8> WuQuantizer::mapToPalette(const QImage& source, const QList<QRgb>& palette)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    std::vector<quint8> indices(size_t(image.width()) * size_t(image.height()));
    if (palette.isEmpty())
        return indices;
    QHash<QRgb, quint8> nearest;
    nearest.reserve(4096);
    auto lookup = [&](QRgb colour) {
        colour |= 0xff000000u;
        const auto found = nearest.constFind(colour);
        if (found != nearest.constEnd())
            return *found;
        int best = 0;
        int bestDistance = std::numeric_limits<int>::max();
        for (int i = 0; i < palette.size(); ++i) {
            const int dr = qRed(colour) - qRed(palette[i]), dg = qGreen(colour) - qGreen(palette[i]);
            const int db = qBlue(colour) - qBlue(palette[i]);
            const int distance = dr * dr + dg * dg + db * db;
            if (distance < bestDistance) {
                bestDistance = distance;
                best = i;
            }
        }
        nearest.insert(colour, quint8(best));
        return quint8(best);
    };
    size_t at = 0;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        QRgb previous = ~row[0];
        quint8 previousIndex = 0;
        for (int x = 0; x < image.width(); ++x) {
            if (row[x] != previous) {
                previous = row[x];
                previousIndex = lookup(row[x]);
            }
            indices[at++] = previousIndex;
        }
    }
    return indices;
}

QImage WuQuantizer::quantize(const QImage& image, int maxColors)
{
    const QList<QRgb> palette = buildPalette(image, maxColors);
    if (palette.isEmpty())
        return {};
    const std::vector<quint8> indices = mapToPalette(image, palette);
    QImage result(image.size(), QImage::Format_Indexed8);
    result.setColorTable(palette);
    for (int y = 0; y < image.height(); ++y)
        std::copy_n(indices.begin() + qsizetype(y) * image.width(), image.width(), result.scanLine(y));
    return result;
}

} // namespace imaging
