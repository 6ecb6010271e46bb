// Byte buffers that keep their capacity from one call to the next.
//
// A command call carries its data buffers in one packet each way; allocating
// those per call costs, for large ones, an mmap, page faults and an munmap
// every time. Both halves of the connection therefore build and receive
// packets in recycled buffers. What is kept is bounded: a buffer that grew
// beyond kKeepLimit is released when handed back, and a pool holds at most
// kPoolLimit bytes of spare capacity, so one huge call does not pin its memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace cvpl_tcpip {

using ByteBuffer = std::vector<uint8_t>;

// Leaves the bytes a resize adds as they are: a receive buffer is filled from
// the socket, and zeroing a large one first costs as much as a copy.
template <class T>
struct UninitialisedAllocator : std::allocator<T> {
    UninitialisedAllocator() = default;
    template <class U>
    UninitialisedAllocator(const UninitialisedAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* place) noexcept
    {
        ::new (static_cast<void*>(place)) U;
    }
    template <class U, class... Arguments>
    void construct(U* place, Arguments&&... arguments)
    {
        ::new (static_cast<void*>(place)) U(std::forward<Arguments>(arguments)...);
    }
};
using ReceiveBuffer = std::vector<uint8_t, UninitialisedAllocator<uint8_t>>;

inline constexpr std::size_t kKeepLimit = std::size_t{4} << 20;  // 4 MiB
inline constexpr std::size_t kPoolLimit = std::size_t{8} << 20;  // 8 MiB

// Empties a buffer for its next use: keeps its capacity unless it grew beyond
// kKeepLimit.
template <class Buffer>
void Recycle(Buffer& buffer)
{
    if (buffer.capacity() > kKeepLimit)
        buffer = Buffer();
    else
        buffer.clear();
}

// Spare buffers shared by the threads of one connection. take() hands out an
// empty buffer (with the capacity of an earlier one when there is one);
// give() takes it back. At most a handful are spare at once (one per call in
// flight and direction), so a linear search is enough.
class BufferPool {
public:
    // Prefers the smallest spare that already holds `wanted` bytes, else the
    // largest, so that a small buffer is not regrown while a big one waits.
    ByteBuffer take(std::size_t wanted = 0)
    {
        std::lock_guard held(mutex_);
        if (spare_.empty()) return ByteBuffer();
        auto chosen = spare_.begin();
        for (auto it = spare_.begin(); it != spare_.end(); ++it) {
            const bool fits = it->capacity() >= wanted;
            const bool chosenFits = chosen->capacity() >= wanted;
            if ((fits && (!chosenFits || it->capacity() < chosen->capacity())) ||
                (!fits && !chosenFits && it->capacity() > chosen->capacity()))
                chosen = it;
        }
        ByteBuffer buffer = std::move(*chosen);
        spare_.erase(chosen);
        keptBytes_ -= buffer.capacity();
        return buffer;
    }

    void give(ByteBuffer&& buffer)
    {
        ByteBuffer returned = std::move(buffer);
        Recycle(returned);
        if (returned.capacity() == 0) return;
        std::lock_guard held(mutex_);
        if (keptBytes_ + returned.capacity() > kPoolLimit) return;  // released on leaving
        keptBytes_ += returned.capacity();
        spare_.push_back(std::move(returned));
    }

    std::size_t keptBytes()
    {
        std::lock_guard held(mutex_);
        return keptBytes_;
    }

private:
    std::mutex mutex_;
    std::vector<ByteBuffer> spare_;
    std::size_t keptBytes_ = 0;
};

}  // namespace cvpl_tcpip
