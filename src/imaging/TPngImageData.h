#pragma once
// One entry of the shared PNG data list: the compressed image data and decoded buffers that all
// images with the same content hold together.

#include <QByteArray>
#include <QImage>

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <thread>

namespace imaging {

// Frees what malloc/calloc gave.
struct FreeDeleter
{
    void operator()(void* p) const noexcept { std::free(p); }
};
// A pixel buffer from calloc (bytes per row x height).
using PixelBuffer = std::unique_ptr<uint8_t, FreeDeleter>;

// An owning pointer slot that other threads read and fill without the list's lock: empty, the mark
// (a buffer being allocated or filled, or the stream taken) or an object the slot owns and frees
// when it goes. The size is written before the pointer is published, so a reader that sees the
// pointer also sees its size.
template <typename T, typename Deleter = std::default_delete<T>> class SharedSlot
{
public:
    using Owned = std::unique_ptr<T, Deleter>;

    SharedSlot() = default;
    SharedSlot(const SharedSlot&) = delete;
    SharedSlot& operator=(const SharedSlot&) = delete;
    ~SharedSlot() { Owned(Usable(m_value.load())); }

    // Stands for "taken": never a real object, never freed.
    static T* Mark()
    {
        alignas(std::max_align_t) static unsigned char tag;
        return reinterpret_cast<T*>(&tag);
    }

    T* Load() const { return m_value.load(std::memory_order_acquire); }
    bool IsEmpty() const { return Load() == nullptr; }
    bool IsMarked() const { return Load() == Mark(); }
    // A usable pointer, or nullptr for empty and the mark.
    T* Get() const { return Usable(Load()); }
    size_t Size() const { return m_size.load(std::memory_order_acquire); }

    // Empty to the mark. Otherwise false, with what the slot holds in `seen`.
    bool TryMark(T*& seen)
    {
        seen = nullptr;
        return m_value.compare_exchange_strong(seen, Mark(), std::memory_order_acq_rel);
    }
    // The object `held` to the mark: the caller owns it from here on. Null when the slot changed.
    Owned Claim(T* held)
    {
        T* expected = held;
        if (!Usable(held) || !m_value.compare_exchange_strong(expected, Mark(), std::memory_order_acq_rel))
            return Owned();
        return Owned(held);
    }
    // Ends a mark (or fills an empty slot): the slot owns `object` from here on, or is empty.
    void Publish(Owned object, size_t size = 0)
    {
        m_size.store(size, std::memory_order_release);
        Owned(Usable(m_value.exchange(object.release(), std::memory_order_acq_rel)));
    }
    // Forgets the object without freeing it: someone may still point into it.
    void Abandon() { m_value.store(nullptr, std::memory_order_release); }

private:
    static T* Usable(T* v) { return v == Mark() ? nullptr : v; }

    std::atomic<T*> m_value{nullptr};
    std::atomic<size_t> m_size{0};
};

using BufferSlot = SharedSlot<uint8_t, FreeDeleter>;
using StreamSlot = SharedSlot<QByteArray>;

class TPngImageData
{
public:
    TPngImageData() = default;
    TPngImageData(const TPngImageData&) = delete;
    TPngImageData& operator=(const TPngImageData&) = delete;
    // Frees the buffers only when no holder is left (RefCount exactly 0).
    ~TPngImageData();

    BufferSlot Pixels;      // pixel rows in plain memory (alpha, when present, inside them)
    BufferSlot ExtraPixels; // low bytes of 16-bit samples, same layout as Pixels
    // The canvas image the entry was created from, and its pixels; set before the entry is listed.
    std::unique_ptr<QImage> DibHandle;
    uint8_t* DibBits = nullptr;
    std::atomic<int32_t> RefCount{0}; // holders; -1 while a new entry is being filled
    uint64_t Key = 0;
    StreamSlot Stream; // stored IDAT bytes, the mark while a thread has taken them
    std::atomic<std::thread::id> StreamOwner{};
};

} // namespace imaging
