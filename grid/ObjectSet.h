// Ordered set of object indices, one per grid cell and per plane column.
//
// There are 343000 cell sets and 14700 column sets, and a set holds a handful
// to a few tens of indices, so the set is a sorted vector whose first
// kInlineCapacity entries live inside the 32-byte record; only larger sets
// touch the heap. Iteration is in ascending index order.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace gridcull {

class ObjectSet {
public:
    static constexpr int kInlineCapacity = 6;

    ObjectSet() { store_.heap = nullptr; }
    ~ObjectSet() {
        if (IsOnHeap()) std::free(store_.heap);
    }
    ObjectSet(const ObjectSet&) = delete;
    ObjectSet& operator=(const ObjectSet&) = delete;

    int size() const { return size_; }
    bool empty() const { return size_ == 0; }
    const int* begin() const { return IsOnHeap() ? store_.heap : store_.local; }
    const int* end() const { return begin() + size_; }

    bool contains(int i) const {
        const int* p = LowerBound(i);
        return p != end() && *p == i;
    }

    // Adds i; an index already present changes nothing.
    void insert(int i) {
        int* data = Data();
        int* p = LowerBoundIn(data, i);
        int pos = static_cast<int>(p - data);
        if (pos < size_ && *p == i) return;
        if (size_ == capacity_) data = Grow();
        // A handful of entries: a plain shift beats a call to memmove.
        for (int k = size_; k > pos; --k) data[k] = data[k - 1];
        data[pos] = i;
        ++size_;
    }

    // Removes i if present; returns the number removed (0 or 1).
    int erase(int i) {
        int* data = Data();
        int* p = LowerBoundIn(data, i);
        int pos = static_cast<int>(p - data);
        if (pos == size_ || *p != i) return 0;
        --size_;
        for (int k = pos; k < size_; ++k) data[k] = data[k + 1];
        return 1;
    }

    // Empties the set; heap storage is kept for reuse.
    void clear() { size_ = 0; }

private:
    bool IsOnHeap() const { return capacity_ > kInlineCapacity; }
    int* Data() { return IsOnHeap() ? store_.heap : store_.local; }
    const int* LowerBound(int i) const {
        const int* p = begin();
        int n = size_;
        // Sets are short: a linear scan beats a binary search here.
        while (n > 0 && *p < i) ++p, --n;
        return p;
    }
    int* LowerBoundIn(int* data, int i) const {
        int* p = data;
        int* e = data + size_;
        while (p != e && *p < i) ++p;
        return p;
    }
    int* Grow();

    std::int32_t size_ = 0;
    std::int32_t capacity_ = kInlineCapacity;
    union {
        int local[kInlineCapacity];
        int* heap;
    } store_;
};

}  // namespace gridcull
