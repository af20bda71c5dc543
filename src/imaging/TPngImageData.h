#pragma once
// One entry of the shared PNG data list: the compressed image data and decoded buffers that all
// images with the same content hold together.

#include <QByteArray>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

class QImage;

namespace imaging {

// A pointer slot that other threads may read and fill without the list's lock: empty (0), the mark 1
// (being allocated or filled) or a real pointer. The size is written before the pointer is published,
// so a reader that sees the pointer also sees its size.
template <typename T> struct SharedSlot
{
    static constexpr uintptr_t Mark = 1;

    std::atomic<uintptr_t> value{0};
    std::atomic<size_t> size{0};

    uintptr_t Load() const { return value.load(std::memory_order_acquire); }
    // A usable pointer, or nullptr for empty and the mark.
    T* Get() const
    {
        const uintptr_t v = Load();
        return v > Mark ? reinterpret_cast<T*>(v) : nullptr;
    }
};

class TPngImageData
{
public:
    TPngImageData() = default;
    TPngImageData(const TPngImageData&) = delete;
    TPngImageData& operator=(const TPngImageData&) = delete;
    // Frees the buffers only when no holder is left (RefCount exactly 0).
    ~TPngImageData();

    SharedSlot<uint8_t> Pixels;              // pixel rows in plain memory (alpha, when present, inside them)
    SharedSlot<uint8_t> ExtraPixels;         // low bytes of 16-bit samples, same layout as Pixels
    std::atomic<uint8_t*> DibBits{nullptr};  // pixels of the canvas image the entry was created from
    std::atomic<QImage*> DibHandle{nullptr}; // that canvas image, deleted with the entry
    std::atomic<int32_t> RefCount{0};        // holders; -1 while a new entry is being filled
    uint64_t Key = 0;
    SharedSlot<QByteArray> Stream; // stored IDAT bytes, the mark 1 while a thread has taken them
    std::atomic<std::thread::id> StreamOwner{};
};

} // namespace imaging
