// Several threads load, copy, draw, save and free the same pictures while they share one list.
// Runs under ThreadSanitizer too (label "threads").

#include "PngTestSupport.h"

#include <QPainter>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>

using imaging::TPngImage;
using namespace imagingtest;

TEST(PngThreads, LoadingCopyingDrawingAndFreeingTheSamePicturesStaysConsistent)
{
    SharingScope scope(true);
    const QStringList names = {QStringLiteral("basn6a08"), QStringLiteral("basi2c16"),
                               QStringLiteral("basn3p04"), QStringLiteral("tbrn2c08")};
    std::vector<QByteArray> files;
    std::vector<std::vector<int>> references;
    std::vector<std::unique_ptr<TPngImage>> sources; // held by this thread, copied by the workers
    for (const QString& name : names) {
        files.push_back(testsupport::ReadAll(SuitePng(name)));
        ASSERT_FALSE(files.back().isEmpty());
        references.push_back(ReferencePixels(name));
        sources.push_back(std::make_unique<TPngImage>());
        sources.back()->LoadFromData(files.back());
    }
    const size_t kinds = files.size();

    constexpr int Threads = 4;
    constexpr int Rounds = 150;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    std::atomic<int> failures{0};
    std::atomic<int> rounds{0};
    std::mutex reportLock;
    std::string firstFailure;
    auto fail = [&](const std::string& what) {
        if (failures.fetch_add(1) == 0) {
            std::lock_guard lock(reportLock);
            firstFailure = what;
        }
    };

    auto worker = [&](int id) {
        for (int round = 0; round < Rounds && std::chrono::steady_clock::now() < deadline; ++round) {
            const size_t k = size_t(round + id) % kinds;
            const std::string tag = names[qsizetype(k)].toStdString() + " thread " + std::to_string(id);
            auto loaded = std::make_unique<TPngImage>();
            loaded->LoadFromData(files[k]);
            auto copy = std::make_unique<TPngImage>(*sources[k]);
            TPngImage second(*loaded);

            // Whoever comes first decodes; every holder must see the finished pixels.
            QImage target(32, 32, QImage::Format_ARGB32_Premultiplied);
            target.fill(0);
            {
                QPainter painter(&target);
                (round % 2 ? *copy : second).Draw(painter, QRect(0, 0, 32, 32));
            }
            std::string first;
            const TPngImage& checked = round % 3 == 0 ? *loaded : round % 3 == 1 ? *copy : second;
            if (CompareWithReference(checked, references[k], first) != 0)
                fail(tag + ": " + first);

            if (round % 5 == 0) {
                // A private picture, and a copy that shares it by its decoded pixels.
                second.Canvas().fillRect(0, 0, 3, 3, Qt::green);
                second.ReleaseCanvas();
                TPngImage third(second);
                if (third.Pixel(1, 1) != qRgb(0, 255, 0) || third.ShareImageData() == nullptr)
                    fail(tag + ": copy of a drawn picture");
                if (CompareWithReference(*copy, references[k], first) != 0)
                    fail(tag + ": drawing on a copy changed the shared pixels");
            }
            if (round % 7 == 0) {
                TPngImage reloaded;
                reloaded.LoadFromData(loaded->SaveToData());
                if (CompareWithReference(reloaded, references[k], first) != 0)
                    fail(tag + ": saved picture reloads differently");
            }
            loaded.reset();
            copy.reset();
            rounds.fetch_add(1);
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t)
        threads.emplace_back(worker, t);
    for (auto& t : threads)
        t.join();

    EXPECT_EQ(failures.load(), 0) << firstFailure;
    EXPECT_GT(rounds.load(), Threads * 10);
    // Only the entries of the pictures this thread still holds are left.
    EXPECT_EQ(imaging::TPngImageDataList::Instance()->Count(), int(kinds));
    for (size_t k = 0; k < kinds; ++k)
        EXPECT_EQ(sources[k]->ShareImageData()->RefCount.load(), 1);
    sources.clear();
}

// The owner's thread only reads a private picture while another thread copies it again and again:
// the copies must not swap the picture's buffer under the reader.
TEST(PngThreads, CopyingAPictureWhileItsOwnerReadsIt)
{
    SharingScope scope(true);
    QImage picture(16, 16, QImage::Format_ARGB32);
    picture.fill(qRgba(40, 50, 60, 255));
    TPngImage first, holder, source;
    first.Assign(picture);
    holder.Assign(first); // an entry with pixels for this content
    source.Assign(picture);

    std::atomic<bool> done{false};
    std::atomic<bool> reading{false};
    std::atomic<int> wrong{0};
    std::thread reader([&] {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (!done.load() && std::chrono::steady_clock::now() < deadline) {
            for (int y = 0; y < 16; ++y)
                if (source.Pixel(y, y) != qRgba(40, 50, 60, 255))
                    wrong.fetch_add(1);
            reading.store(true);
        }
    });
    for (int i = 0; i < 1000 && !reading.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    for (int i = 0; i < 200; ++i) {
        TPngImage copy;
        copy.Assign(source);
        if (copy.Pixel(3, 3) != qRgba(40, 50, 60, 255))
            wrong.fetch_add(1);
    }
    done.store(true);
    reader.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(source.ShareImageData(), holder.ShareImageData());
}
