// Ordered set of object indices, one per grid cell and per plane column.
//
// There are 343000 cell sets and 14700 column sets, and a set holds a handful
// to a few tens of indices, so the set is a sorted vector whose first
// kInlineCapacity entries live inside the 32-byte record; only larger sets
// touch the heap.
//
// The vector is kept in descending order and iterated backwards, so the
// iteration is ascending. The sets that change every frame are those of the
// moving objects, whose indices (0..199) are below every static one: in
// descending order they sit at the tail, and inserting or erasing one moves
// only the few moving entries behind it, never the static ones.
#pragma once

#include <cstdint>
#include <iterator>

namespace gridcull {

class ObjectSet {
public:
    static constexpr int kInlineCapacity = 6;
    using const_iterator = std::reverse_iterator<const int*>;

    ObjectSet() { store_.heap = nullptr; }
    ~ObjectSet();
    ObjectSet(const ObjectSet&) = delete;
    ObjectSet& operator=(const ObjectSet&) = delete;

    int size() const { return size_; }
    bool empty() const { return size_ == 0; }
    // Ascending index order.
    const_iterator begin() const { return const_iterator(Data() + size_); }
    const_iterator end() const { return const_iterator(Data()); }

    bool contains(int i) const {
        const int* p = Position(Data(), i);
        return p != Data() && p[-1] == i;
    }

    // Adds i; an index already present changes nothing.
    void insert(int i) {
        int* data = Data();
        const int n = size_;
        // Below every entry, the usual place of a moving object (the
        // smallest indices): appended, nothing moves.
        if (n == 0 || data[n - 1] > i) {
            if (n == capacity_) data = Grow();
            data[n] = i;
            size_ = n + 1;
            return;
        }
        if (n == capacity_) {
            if (contains(i)) return;  // a full set grows only for a new index
            data = Grow();
        }
        // The entries below i (a few moving objects) move up as the search
        // passes them; an index found present moves them back.
        int* q = data + n;
        for (; q != data && q[-1] < i; --q) *q = q[-1];
        if (q != data && q[-1] == i) {
            for (; q != data + n; ++q) *q = q[1];
            return;
        }
        *q = i;
        size_ = n + 1;
    }

    // Removes i if present; returns the number removed (0 or 1).
    int erase(int i) {
        int* data = Data();
        const int n = size_;
        if (n == 0) return 0;
        // The last entry, the usual place of a moving object: nothing moves.
        if (data[n - 1] == i) {
            size_ = n - 1;
        } else {
            int* p = Position(data, i);
            if (p == data || p[-1] != i) return 0;
            for (int* q = p, *e = data + n; q != e && *q < i; ++q) q[-1] = *q;
            size_ = n - 1;
        }
        if (size_ == kInlineCapacity / 2 && IsOnHeap()) Shrink();
        return 1;
    }

    // Empties the set; heap storage is kept for reuse.
    void clear() { size_ = 0; }

    // insert(i) or erase(i) on each of the count sets from first on, the run
    // of cells along x that a moving object enters or leaves, and on the
    // same run in each of the next rows - 1 rows, stride sets apart, and in
    // each of the next slices - 1 such blocks, sliceStride sets apart.
    static void InsertEach(ObjectSet* first, int count, int i, int rows = 1, int stride = 0, int slices = 1,
                           int sliceStride = 0);
    static void EraseEach(ObjectSet* first, int count, int i, int rows = 1, int stride = 0, int slices = 1,
                          int sliceStride = 0);

private:
    bool IsOnHeap() const { return capacity_ > kInlineCapacity; }
    int* Data() { return IsOnHeap() ? store_.heap : store_.local; }
    const int* Data() const { return IsOnHeap() ? store_.heap : store_.local; }
    // First slot, scanning from the tail, past the entries smaller than i:
    // i belongs at the returned position, and is present when p[-1] == i.
    template <typename T>
    T* Position(T* data, int i) const {
        T* p = data + size_;
        while (p != data && p[-1] < i) --p;
        return p;
    }
    int* Grow();
    // Back to inline storage once a grown set is small again, so the heap
    // holds what the cells hold now, not the most they ever held. The gap
    // between growing at 7 and shrinking at 3 keeps a cell that moving
    // objects pass through from allocating every frame.
    void Shrink();

    std::int32_t size_ = 0;
    std::int32_t capacity_ = kInlineCapacity;
    union {
        int local[kInlineCapacity];
        int* heap;
    } store_;
};

}  // namespace gridcull
