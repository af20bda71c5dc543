#include "imaging/TPngImageDataList.h"

#include "imaging/Crc64.h"
#include "imaging/TPngImage.h"

#include <chrono>
#include <cstdlib>
#include <cstring>

namespace imaging {

std::atomic<TPngImageDataList*> TPngImageDataList::s_instance{nullptr};

namespace {

constexpr auto WaitStep = std::chrono::milliseconds(2);

// Keys compare as unsigned 64-bit numbers.
int Compare(const TPngImageData& a, const TPngImageData& b)
{
    return a.Key < b.Key ? -1 : a.Key > b.Key ? 1 : 0;
}

size_t PixelBytes(const TChunkIHDR& h)
{
    return size_t(h.BytesPerRow) * size_t(h.Height);
}

} // namespace

bool TPngImageDataList::FindEntry(const TPngImageData& probe, int& index) const
{
    int lo = 0;
    int hi = int(m_entries.size()) - 1;
    bool found = false;
    while (hi >= lo) {
        const int mid = (lo + hi) / 2;
        const int c = Compare(*m_entries[size_t(mid)], probe);
        if (c < 0) {
            lo = mid + 1;
        } else {
            hi = mid - 1;
            if (c == 0) {
                found = true;
                lo = mid;
            }
        }
    }
    index = lo;
    return found;
}

TPngImageData* TPngImageDataList::ShareCompressedData(std::unique_ptr<QByteArray> stream, QByteArrayView header)
{
    Crc64 crc;
    crc.Update(header.data(), size_t(header.size()));
    crc.Update(stream->constData(), size_t(stream->size()));
    const uint64_t key = crc.Value();

    std::lock_guard lock(m_lock);
    m_probe.Key = key;
    int index = 0;
    if (!FindEntry(m_probe, index)) {
        auto created = std::make_unique<TPngImageData>();
        created->Key = key;
        const auto size = size_t(stream->size());
        created->Stream.Publish(std::move(stream), size);
        m_entries.insert(m_entries.begin() + index, std::move(created));
    }
    TPngImageData* entry = m_entries[size_t(index)].get();
    entry->RefCount.fetch_add(1);
    return entry; // a stream not kept goes with the parameter
}

TPngImageData* TPngImageDataList::ShareDecodedImage(TPngImage& source)
{
    TChunkIHDR& src = source.m_header;
    auto shareHeld = [](TPngImageData* held) -> TPngImageData* {
        if (held->RefCount.fetch_add(1) + 1 > 0)
            return held;
        held->RefCount.fetch_sub(1);
        return nullptr;
    };
    {
        std::lock_guard lock(m_lock);
        if (TPngImageData* held = src.ShareImageData.load())
            return shareHeld(held);
        if (!src.ImageData)
            return nullptr;
    }

    // The key covers the description, the pixels and the 16-bit low bytes: buffers are handed between
    // holders of one key, so everything they carry must be equal.
    Crc64 crc;
    crc.Update(src.BitmapHeader.data(), src.BitmapHeader.size());
    static const uint8_t noPalette[1024] = {};
    if (src.Palette.size() == sizeof noPalette)
        crc.Update(src.Palette.constData(), sizeof noPalette);
    else
        crc.Update(noPalette, sizeof noPalette);
    crc.Update(src.ImageData, PixelBytes(src));
    if (src.ExtraImageData)
        crc.Update(src.ExtraImageData, PixelBytes(src));
    const uint64_t key = crc.Value();

    std::lock_guard lock(m_lock);
    if (TPngImageData* held = src.ShareImageData.load())
        return shareHeld(held);
    if (!src.ImageData)
        return nullptr;

    m_probe.Key = key;
    int index = 0;
    const bool found = FindEntry(m_probe, index);
    const size_t bytes = PixelBytes(src);
    if (!found) {
        // The new entry takes over the source's buffers; the source keeps pointing into them.
        auto created = std::make_unique<TPngImageData>();
        created->Key = key;
        created->RefCount.store(-1);
        if (src.PixelsInHeap) {
            created->Pixels.Publish(std::move(src.OwnPixels), bytes);
        } else if (src.Dib) {
            created->DibBits = src.ImageData;
            created->DibHandle = std::move(src.OwnDib);
        }
        if (src.OwnExtra)
            created->ExtraPixels.Publish(std::move(src.OwnExtra), bytes);
        created->RefCount.store(0);
        m_entries.insert(m_entries.begin() + index, std::move(created));
    }
    TPngImageData* entry = m_entries[size_t(index)].get();

    if (entry->RefCount.fetch_add(2) < 0) {
        entry->RefCount.fetch_sub(2);
        return nullptr;
    }
    if (found) {
        // A slot still empty takes the source's buffer, so the decoded pixels are not thrown away.
        // Otherwise the source keeps its own buffer: its owner may still hold rows and views of it,
        // or read it on another thread, so it is neither freed nor swapped here.
        auto offer = [bytes](BufferSlot& slot, PixelBuffer& mine) {
            if (!mine)
                return;
            uint8_t* seen = nullptr;
            while (!slot.TryMark(seen)) {
                if (seen != BufferSlot::Mark())
                    return;
                std::this_thread::sleep_for(WaitStep);
            }
            slot.Publish(std::move(mine), bytes);
        };
        if (src.PixelsInHeap)
            offer(entry->Pixels, src.OwnPixels);
        offer(entry->ExtraPixels, src.OwnExtra);
    }
    src.ShareImageData.store(entry);
    return entry;
}

void TPngImageDataList::ReleaseShare(std::atomic<TPngImageData*>& slot)
{
    std::unique_ptr<TPngImageData> removed; // destroyed after the lock
    std::lock_guard lock(m_lock);
    TPngImageData* entry = slot.exchange(nullptr);
    if (!entry)
        return;
    int index = 0;
    m_probe.Key = entry->Key;
    if (!FindEntry(m_probe, index))
        return;
    // Equal keys are unique, so the first match is this entry.
    auto listed = m_entries.begin() + index;
    if ((*listed)->RefCount.fetch_sub(1) - 1 <= 0) {
        removed = std::move(*listed);
        m_entries.erase(listed);
    }
}

std::unique_ptr<QByteArray> TPngImageDataList::TakeStream(TPngImageData& entry)
{
    for (;;) {
        QByteArray* s = entry.Stream.Load();
        if (!s)
            return nullptr;
        if (s == StreamSlot::Mark()) {
            // Another thread decodes or saves; when it puts the stream back we try again.
            if (entry.StreamOwner.load() == std::this_thread::get_id())
                return nullptr;
            std::this_thread::sleep_for(WaitStep);
            continue;
        }
        if (auto taken = entry.Stream.Claim(s)) {
            entry.StreamOwner.store(std::this_thread::get_id());
            return taken;
        }
    }
}

void TPngImageDataList::ReturnStream(TPngImageData& entry, std::unique_ptr<QByteArray> value)
{
    entry.StreamOwner.store(std::thread::id());
    const auto size = value ? size_t(value->size()) : 0;
    entry.Stream.Publish(std::move(value), size);
}

uint8_t* TPngImageDataList::AcquireSharedBuffer(BufferSlot& slot, size_t size, bool* created,
                                                const std::function<void(uint8_t*)>& fill)
{
    if (created)
        *created = false;
    uint8_t* seen = nullptr;
    while (!slot.TryMark(seen)) {
        if (seen != BufferSlot::Mark()) {
            // Someone else's buffer. One of another size (keys that collide) is not shared.
            return slot.Size() == size ? seen : nullptr;
        }
        std::this_thread::sleep_for(WaitStep);
    }
    PixelBuffer buffer(static_cast<uint8_t*>(std::calloc(size ? size : 1, 1)));
    if (!buffer) {
        slot.Publish(nullptr);
        return nullptr;
    }
    if (fill)
        fill(buffer.get());
    uint8_t* const result = buffer.get();
    slot.Publish(std::move(buffer), size);
    if (created)
        *created = true;
    return result;
}

int TPngImageDataList::Count() const
{
    std::lock_guard lock(m_lock);
    return int(m_entries.size());
}

std::vector<TPngImageData*> TPngImageDataList::Entries() const
{
    std::lock_guard lock(m_lock);
    std::vector<TPngImageData*> entries;
    entries.reserve(m_entries.size());
    for (const auto& entry : m_entries)
        entries.push_back(entry.get());
    return entries;
}

bool InitializePngSharing()
{
    auto list = std::make_unique<TPngImageDataList>();
    TPngImageDataList* expected = nullptr;
    if (!TPngImageDataList::s_instance.compare_exchange_strong(expected, list.get()))
        return false;
    (void)list.release(); // owned through the published pointer until FinalizePngSharing
    return true;
}

bool FinalizePngSharing()
{
    TPngImageDataList* list = TPngImageDataList::s_instance.load();
    if (!list || list->Count() != 0)
        return false;
    if (!TPngImageDataList::s_instance.compare_exchange_strong(list, nullptr))
        return false;
    std::unique_ptr<TPngImageDataList>{list}.reset();
    return true;
}

} // namespace imaging
