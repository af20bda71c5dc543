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

TPngImageDataList::~TPngImageDataList()
{
    for (TPngImageData* entry : m_entries)
        delete entry;
}

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

TPngImageData* TPngImageDataList::ShareCompressedData(QByteArray* stream, QByteArrayView header)
{
    Crc64 crc;
    crc.Update(header.data(), size_t(header.size()));
    crc.Update(stream->constData(), size_t(stream->size()));
    const uint64_t key = crc.Value();

    TPngImageData* entry = nullptr;
    bool created = false;
    {
        std::lock_guard lock(m_lock);
        m_probe.Key = key;
        int index = 0;
        if (FindEntry(m_probe, index)) {
            entry = m_entries[size_t(index)];
        } else {
            entry = new TPngImageData;
            entry->Key = key;
            entry->Stream.size.store(size_t(stream->size()), std::memory_order_relaxed);
            entry->Stream.value.store(reinterpret_cast<uintptr_t>(stream), std::memory_order_release);
            m_entries.insert(m_entries.begin() + index, entry);
            created = true;
        }
        entry->RefCount.fetch_add(1);
    }
    if (!created)
        delete stream;
    return entry;
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
    TPngImageData* entry = nullptr;
    const bool found = FindEntry(m_probe, index);
    const size_t bytes = PixelBytes(src);
    if (!found) {
        entry = new TPngImageData;
        entry->Key = key;
        entry->RefCount.store(-1);
        if (src.PixelsInHeap) {
            entry->Pixels.size.store(bytes);
            entry->Pixels.value.store(reinterpret_cast<uintptr_t>(src.ImageData), std::memory_order_release);
        } else if (src.Dib) {
            entry->DibBits.store(src.ImageData);
            entry->DibHandle.store(src.Dib);
        }
        if (src.ExtraImageData) {
            entry->ExtraPixels.size.store(bytes);
            entry->ExtraPixels.value.store(reinterpret_cast<uintptr_t>(src.ExtraImageData),
                                           std::memory_order_release);
        }
        m_entries.insert(m_entries.begin() + index, entry);
        entry->RefCount.store(0);
    } else {
        entry = m_entries[size_t(index)];
    }

    if (entry->RefCount.fetch_add(2) < 0) {
        entry->RefCount.fetch_sub(2);
        return nullptr;
    }
    if (found) {
        // A slot still empty takes the source's buffer, so the decoded pixels are not thrown away.
        // Otherwise the source keeps its own buffer: its owner may still hold rows and views of it,
        // or read it on another thread, so it is neither freed nor swapped here.
        auto offer = [bytes](SharedSlot<uint8_t>& slot, uint8_t* mine) {
            if (!mine)
                return;
            for (;;) {
                uintptr_t v = slot.Load();
                if (v == SharedSlot<uint8_t>::Mark) {
                    std::this_thread::sleep_for(WaitStep);
                    continue;
                }
                if (v != 0)
                    return;
                slot.size.store(bytes);
                if (slot.value.compare_exchange_strong(v, reinterpret_cast<uintptr_t>(mine)))
                    return;
            }
        };
        if (src.PixelsInHeap)
            offer(entry->Pixels, src.ImageData);
        offer(entry->ExtraPixels, src.ExtraImageData);
    }
    src.ShareImageData.store(entry);
    return entry;
}

void TPngImageDataList::ReleaseShare(std::atomic<TPngImageData*>& slot)
{
    TPngImageData* removed = nullptr;
    {
        std::lock_guard lock(m_lock);
        TPngImageData* entry = slot.exchange(nullptr);
        if (!entry)
            return;
        int index = 0;
        m_probe.Key = entry->Key;
        if (!FindEntry(m_probe, index))
            return;
        // Equal keys are unique, so the first match is this entry.
        TPngImageData* listed = m_entries[size_t(index)];
        if (listed->RefCount.fetch_sub(1) - 1 <= 0) {
            m_entries.erase(m_entries.begin() + index);
            removed = listed;
        }
    }
    delete removed;
}

QByteArray* TPngImageDataList::TakeStream(TPngImageData& entry)
{
    constexpr uintptr_t Mark = SharedSlot<QByteArray>::Mark;
    for (;;) {
        uintptr_t s = entry.Stream.Load();
        if (s == 0)
            return nullptr;
        if (s == Mark) {
            // Another thread decodes or saves; when it puts the stream back we try again.
            if (entry.StreamOwner.load() == std::this_thread::get_id())
                return nullptr;
            std::this_thread::sleep_for(WaitStep);
            continue;
        }
        if (entry.Stream.value.compare_exchange_strong(s, Mark, std::memory_order_acq_rel)) {
            entry.StreamOwner.store(std::this_thread::get_id());
            return reinterpret_cast<QByteArray*>(s);
        }
    }
}

void TPngImageDataList::ReturnStream(TPngImageData& entry, QByteArray* value)
{
    entry.StreamOwner.store(std::thread::id());
    entry.Stream.value.exchange(reinterpret_cast<uintptr_t>(value), std::memory_order_acq_rel);
}

uint8_t* TPngImageDataList::AcquireSharedBuffer(SharedSlot<uint8_t>& slot, size_t size, bool* created,
                                                const std::function<void(uint8_t*)>& fill)
{
    constexpr uintptr_t Mark = SharedSlot<uint8_t>::Mark;
    if (created)
        *created = false;
    uintptr_t previous = 0;
    while (!slot.value.compare_exchange_strong(previous, Mark, std::memory_order_acq_rel)) {
        if (previous != Mark) {
            // Someone else's buffer. One of another size (keys that collide) is not shared.
            return slot.size.load() == size ? reinterpret_cast<uint8_t*>(previous) : nullptr;
        }
        std::this_thread::sleep_for(WaitStep);
        previous = 0;
    }
    auto* buffer = static_cast<uint8_t*>(std::calloc(size ? size : 1, 1));
    if (!buffer) {
        slot.value.store(0, std::memory_order_release);
        return nullptr;
    }
    if (fill)
        fill(buffer);
    slot.size.store(size);
    slot.value.exchange(reinterpret_cast<uintptr_t>(buffer), std::memory_order_acq_rel);
    if (created)
        *created = true;
    return buffer;
}

int TPngImageDataList::Count() const
{
    std::lock_guard lock(m_lock);
    return int(m_entries.size());
}

std::vector<TPngImageData*> TPngImageDataList::Entries() const
{
    std::lock_guard lock(m_lock);
    return m_entries;
}

bool InitializePngSharing()
{
    auto* list = new TPngImageDataList;
    TPngImageDataList* expected = nullptr;
    if (TPngImageDataList::s_instance.compare_exchange_strong(expected, list))
        return true;
    delete list;
    return false;
}

bool FinalizePngSharing()
{
    TPngImageDataList* list = TPngImageDataList::s_instance.load();
    if (!list || list->Count() != 0)
        return false;
    if (!TPngImageDataList::s_instance.compare_exchange_strong(list, nullptr))
        return false;
    delete list;
    return true;
}

} // namespace imaging
