#pragma once
// The process-wide list that lets PNG images with the same content share one stored copy of their
// compressed data and one set of decoded buffers, and defers decoding until the pixels are used.
// While no list exists, images neither share nor defer decoding.

#include "imaging/TPngImageData.h"

#include <QByteArray>

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace imaging {

class TPngImage;

class TPngImageDataList
{
public:
    TPngImageDataList() = default;
    ~TPngImageDataList() = default;
    TPngImageDataList(const TPngImageDataList&) = delete;
    TPngImageDataList& operator=(const TPngImageDataList&) = delete;

    // The list of this process, or nullptr before start-up created it / after it was destroyed.
    static TPngImageDataList* Instance() { return s_instance.load(std::memory_order_acquire); }

    // Binary search by the probe's Key; among equal keys the first wins. The index is the match or
    // the insertion point. Call with the lock held.
    bool FindEntry(const TPngImageData& probe, int& index) const;

    // Takes the stream (the stored IDAT bytes) and returns the entry holding that content with its
    // count raised; when an entry already held it, the given stream is dropped. The key covers
    // `header` (what decides the buffers' layout) and then the stream.
    TPngImageData* ShareCompressedData(std::unique_ptr<QByteArray> stream, QByteArrayView header);
    // Entry for a copy of `source`: the source's own entry, or one keyed by its decoded pixels (the
    // source then holds it too). nullptr when the source has no pixels or the entry is being torn down.
    TPngImageData* ShareDecodedImage(TPngImage& source);
    // Empties the slot and drops one hold of its entry; the last holder destroys it.
    void ReleaseShare(std::atomic<TPngImageData*>& slot);

    // The stored stream, the calling thread's until ReturnStream; null when there is none (already
    // decoded) or the calling thread has it already.
    static std::unique_ptr<QByteArray> TakeStream(TPngImageData& entry);
    // Puts the stream back, or null once it has been decoded.
    static void ReturnStream(TPngImageData& entry, std::unique_ptr<QByteArray> value);
    // The slot's buffer, allocating `size` zero bytes when it is empty; `fill` runs on a new buffer
    // before other threads can see it. nullptr when allocation fails or the buffer has another size.
    static uint8_t* AcquireSharedBuffer(BufferSlot& slot, size_t size, bool* created = nullptr,
                                        const std::function<void(uint8_t*)>& fill = {});

    int Count() const;
    // Snapshot for inspection: the entries in key order.
    std::vector<TPngImageData*> Entries() const;

private:
    friend bool InitializePngSharing();
    friend bool FinalizePngSharing();

    mutable std::mutex m_lock;
    std::vector<std::unique_ptr<TPngImageData>> m_entries;
    TPngImageData m_probe;

    // Published to every thread that loads or copies pictures.
    static std::atomic<TPngImageDataList*> s_instance;
};

// Start-up: creates the process-wide list (returns false when it already exists). Call once, before any
// PNG image is loaded, so identical pictures share their data.
bool InitializePngSharing();
// Shut-down: destroys the list only when no entry is left (returns whether it did); otherwise the
// list stays to the end of the process.
bool FinalizePngSharing();

} // namespace imaging
