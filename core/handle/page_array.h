// A growable array of plain records kept in whole pages, as the timing lists
// and the pipelines' large host arrays are.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <type_traits>

#include "core/platform/platform.h"

namespace kvn {

template <typename T>
class PageArray {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    PageArray() = default;
    ~PageArray() { release(); }
    PageArray(const PageArray&) = delete;
    PageArray& operator=(const PageArray&) = delete;

    std::span<T> items() { return {items_, count_}; }
    std::span<const T> items() const { return {items_, count_}; }
    uint64_t size() const { return count_; }
    bool empty() const { return count_ == 0; }

    // False when more pages cannot be had; the array is then unchanged.
    bool push(const T& item) {
        if (count_ == capacity_ && !grow()) return false;
        items_[count_++] = item;
        return true;
    }

    // Empties the array and keeps its pages.
    void clear() { count_ = 0; }

    // Empties the array and returns its pages.
    void release() {
        freePages(items_, capacity_ * sizeof(T));
        items_ = nullptr;
        count_ = 0;
        capacity_ = 0;
    }

private:
    static constexpr uint64_t kPageBytes = 4096;

    bool grow() {
        const uint64_t capacity = capacity_ ? capacity_ * 2 : (kPageBytes + sizeof(T) - 1) / sizeof(T);
        auto* grown = static_cast<T*>(allocPages(capacity * sizeof(T)));
        if (!grown) return false;
        if (count_) std::memcpy(static_cast<void*>(grown), items_, count_ * sizeof(T));
        freePages(items_, capacity_ * sizeof(T));
        items_ = grown;
        capacity_ = capacity;
        return true;
    }

    T* items_ = nullptr;
    uint64_t count_ = 0;
    uint64_t capacity_ = 0;
};

}  // namespace kvn
