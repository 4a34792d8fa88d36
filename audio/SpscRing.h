#pragma once

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstddef>
#include <memory>

// Lock-free ring buffer for one producer thread and one consumer thread.
//
// The capacity is a power of two and both indices run freely (they wrap only
// as std::size_t does), so "full" and "empty" never look alike and the slot is
// index & mask. Each side publishes its own index with release and reads the
// other side's with acquire; nothing else is shared.
template <typename T> class SpscRing {
  public:
    // Allocates; rounds `minimumCapacity` up to a power of two (at least 1).
    explicit SpscRing(std::size_t minimumCapacity)
        : capacity_(std::bit_ceil(std::max<std::size_t>(minimumCapacity, 1))),
          items_(std::make_unique<T[]>(capacity_))
    {
    }

    std::size_t capacity() const { return capacity_; }

    // Producer: room left, and a copy of up to `count` items; returns how many
    // were written (fewer than `count` only when the ring is full).
    std::size_t writable() const
    {
        return capacity_ - (writeIndex_.load(std::memory_order_relaxed) -
                            readIndex_.load(std::memory_order_acquire));
    }

    std::size_t write(const T *items, std::size_t count)
    {
        const std::size_t head = writeIndex_.load(std::memory_order_relaxed);
        count = std::min(count, writable());
        copyIn(head, items, count);
        writeIndex_.store(head + count, std::memory_order_release);
        return count;
    }

    // Consumer: items waiting, a copy of up to `count` of them without taking
    // them (returns how many were copied), and taking `count` <= readable().
    std::size_t readable() const
    {
        return writeIndex_.load(std::memory_order_acquire) -
               readIndex_.load(std::memory_order_relaxed);
    }

    std::size_t peek(T *items, std::size_t count) const
    {
        count = std::min(count, readable());
        copyOut(readIndex_.load(std::memory_order_relaxed), items, count);
        return count;
    }

    void drop(std::size_t count)
    {
        readIndex_.store(readIndex_.load(std::memory_order_relaxed) + count,
                         std::memory_order_release);
    }

    std::size_t read(T *items, std::size_t count)
    {
        count = peek(items, count);
        drop(count);
        return count;
    }

    // Empties the ring; only while neither side uses it.
    void clear()
    {
        writeIndex_.store(0, std::memory_order_relaxed);
        readIndex_.store(0, std::memory_order_relaxed);
    }

  private:
    void copyIn(std::size_t index, const T *items, std::size_t count)
    {
        const std::size_t start = index & (capacity_ - 1);
        const std::size_t first = std::min(count, capacity_ - start);
        std::copy_n(items, first, items_.get() + start);
        std::copy_n(items + first, count - first, items_.get());
    }

    void copyOut(std::size_t index, T *items, std::size_t count) const
    {
        const std::size_t start = index & (capacity_ - 1);
        const std::size_t first = std::min(count, capacity_ - start);
        std::copy_n(items_.get() + start, first, items);
        std::copy_n(items_.get(), count - first, items + first);
    }

    const std::size_t capacity_;
    const std::unique_ptr<T[]> items_;
    // Apart, so that the two sides do not share a cache line.
    alignas(64) std::atomic<std::size_t> writeIndex_{0};
    alignas(64) std::atomic<std::size_t> readIndex_{0};
};
