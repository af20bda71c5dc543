// PNG picture costs against QImage and libpng's simplified reader:
//  (a) 1000 loads of one 30 x 30 picture, each drawn once: time and heap held (shared vs QImage);
//  (b) loading a 2000 x 2000 picture that is never drawn (deferred vs QImage::loadFromData);
//  (c) decoding alone against png_image_finish_read on the same files.
// Memory is the peak of what glibc reports in use while the pictures are loaded and held
// (counter "peak_heap_kb"; sampled after each picture).

#include "imaging/TPngImage.h"
#include "imaging/TPngImageDataList.h"
#include "support/PrivateRuntimeDir.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>

#include <benchmark/benchmark.h>
#include <malloc.h>
#include <png.h>

#include <memory>
#include <vector>

using imaging::TPngImage;

namespace {

long long HeapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return (long long)(info.uordblks + info.hblkhd);
}

QByteArray Encode(const QImage& image)
{
    TPngImage png;
    png.Assign(image);
    return png.SaveToData();
}

// A step marker: a filled circle with soft edges on transparency.
const QByteArray& Marker()
{
    static const QByteArray bytes = [] {
        QImage image(30, 30, QImage::Format_ARGB32);
        image.fill(Qt::transparent);
        QPainter p(&image);
        p.setRenderHint(QPainter::Antialiasing);
        p.setBrush(QColor(40, 120, 200));
        p.setPen(QPen(QColor(20, 60, 100), 2));
        p.drawEllipse(QRectF(1.5, 1.5, 27, 27));
        p.end();
        return Encode(image);
    }();
    return bytes;
}

// A 2000 x 2000 picture with gradients and some noise, so it compresses like a photo-ish skin piece.
QByteArray Large(QImage::Format format)
{
    QImage image(2000, 2000, format);
    QRandomGenerator rng(42);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const int n = int(rng.bounded(16));
            image.setPixel(x, y,
                           qRgba((x / 8 + n) & 255, (y / 8 + n) & 255, ((x + y) / 16) & 255,
                                 format == QImage::Format_ARGB32 ? (200 + n) : 255));
        }
    if (format == QImage::Format_Indexed8)
        return Encode(image.convertToFormat(QImage::Format_RGB888));
    return Encode(image);
}

const QByteArray& LargeRgba()
{
    static const QByteArray bytes = Large(QImage::Format_ARGB32);
    return bytes;
}

const QByteArray& LargeRgb()
{
    static const QByteArray bytes = Large(QImage::Format_RGB32);
    return bytes;
}

constexpr int Copies = 1000;

void BM_Markers_Shared(benchmark::State& state)
{
    imaging::InitializePngSharing();
    QImage target(30, 30, QImage::Format_ARGB32_Premultiplied);
    long long peak = 0;
    for (auto _ : state) {
        const long long before = HeapInUse();
        std::vector<std::unique_ptr<TPngImage>> images;
        images.reserve(Copies);
        QPainter painter(&target);
        for (int i = 0; i < Copies; ++i) {
            images.push_back(std::make_unique<TPngImage>());
            images.back()->LoadFromData(Marker());
            images.back()->Draw(painter, QRect(0, 0, 30, 30));
            peak = std::max(peak, HeapInUse() - before);
        }
        painter.end();
    }
    state.counters["peak_heap_kb"] = double(peak) / 1024.0;
    imaging::FinalizePngSharing();
}
BENCHMARK(BM_Markers_Shared)->Unit(benchmark::kMillisecond);

void BM_Markers_QImage(benchmark::State& state)
{
    QImage target(30, 30, QImage::Format_ARGB32_Premultiplied);
    long long peak = 0;
    for (auto _ : state) {
        const long long before = HeapInUse();
        std::vector<QImage> images;
        images.reserve(Copies);
        QPainter painter(&target);
        for (int i = 0; i < Copies; ++i) {
            images.emplace_back();
            images.back().loadFromData(Marker(), "PNG");
            painter.drawImage(QRect(0, 0, 30, 30), images.back());
            peak = std::max(peak, HeapInUse() - before);
        }
        painter.end();
    }
    state.counters["peak_heap_kb"] = double(peak) / 1024.0;
}
BENCHMARK(BM_Markers_QImage)->Unit(benchmark::kMillisecond);

void BM_LargeUndrawn_Deferred(benchmark::State& state)
{
    imaging::InitializePngSharing();
    const QByteArray& bytes = LargeRgba();
    for (auto _ : state) {
        TPngImage image;
        image.LoadFromData(bytes);
        benchmark::DoNotOptimize(image.Width());
    }
    state.counters["file_kb"] = double(bytes.size()) / 1024.0;
    imaging::FinalizePngSharing();
}
BENCHMARK(BM_LargeUndrawn_Deferred)->Unit(benchmark::kMillisecond);

void BM_LargeUndrawn_QImage(benchmark::State& state)
{
    const QByteArray& bytes = LargeRgba();
    for (auto _ : state) {
        QImage image;
        image.loadFromData(bytes, "PNG");
        benchmark::DoNotOptimize(image.width());
    }
}
BENCHMARK(BM_LargeUndrawn_QImage)->Unit(benchmark::kMillisecond);

const QByteArray& DecodeInput(int which)
{
    return which == 0 ? LargeRgba() : LargeRgb();
}

// Decoding only: the stored data is loaded untimed, the first pixel access decodes.
void BM_Decode_Deferred(benchmark::State& state)
{
    imaging::InitializePngSharing();
    const QByteArray& bytes = DecodeInput(int(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        auto image = std::make_unique<TPngImage>();
        image->LoadFromData(bytes);
        state.ResumeTiming();
        benchmark::DoNotOptimize(image->Scanline(0));
        state.PauseTiming();
        image.reset();
        state.ResumeTiming();
    }
    imaging::FinalizePngSharing();
}
BENCHMARK(BM_Decode_Deferred)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Loading with decoding and without the list: parsing plus decoding, as the simplified reader does.
void BM_Decode_Plain(benchmark::State& state)
{
    const QByteArray& bytes = DecodeInput(int(state.range(0)));
    for (auto _ : state) {
        TPngImage image;
        image.LoadFromData(bytes);
        benchmark::DoNotOptimize(image.Scanline(0));
    }
}
BENCHMARK(BM_Decode_Plain)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Decode_LibpngSimplified(benchmark::State& state)
{
    const QByteArray& bytes = DecodeInput(int(state.range(0)));
    for (auto _ : state) {
        png_image image{};
        image.version = PNG_IMAGE_VERSION;
        if (!png_image_begin_read_from_memory(&image, bytes.constData(), size_t(bytes.size()))) {
            state.SkipWithError("libpng refused the picture");
            break;
        }
        image.format = state.range(0) == 0 ? PNG_FORMAT_BGRA : PNG_FORMAT_RGB;
        std::vector<png_byte> buffer(PNG_IMAGE_SIZE(image));
        png_image_finish_read(&image, nullptr, buffer.data(), 0, nullptr);
        benchmark::DoNotOptimize(buffer.data());
    }
}
BENCHMARK(BM_Decode_LibpngSimplified)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    testsupport::PrivateRuntimeDir runtime;
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
