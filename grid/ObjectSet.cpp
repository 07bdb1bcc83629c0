#include "grid/ObjectSet.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace gridcull {

ObjectSet::~ObjectSet() {
    if (IsOnHeap()) std::free(store_.heap);
}

int* ObjectSet::Grow() {
    int newCapacity = capacity_ * 2;
    int* grown = static_cast<int*>(std::malloc(sizeof(int) * newCapacity));
    if (!grown) throw std::bad_alloc();
    std::memcpy(grown, Data(), sizeof(int) * size_);
    if (IsOnHeap()) std::free(store_.heap);
    store_.heap = grown;
    capacity_ = newCapacity;
    return grown;
}

namespace {

// f(set) on each of count sets from first on, in each of rows rows stride
// sets apart, in each of slices slices sliceStride sets apart.
template <typename F>
inline void ForEachSet(ObjectSet* first, int count, int rows, int stride, int slices, int sliceStride, F f) {
    if (count == 1) {
        // A box one cell thick in x (an object stepping along x): its rows
        // are single sets, walked as columns.
        for (int k = 0; k < slices; ++k)
            for (int r = 0; r < rows; ++r) f(first[k * sliceStride + r * stride]);
        return;
    }
    if (rows == 1) {
        // One cell thick in y: a run per slice.
        for (int k = 0; k < slices; ++k)
            for (int i = 0; i < count; ++i) f(first[k * sliceStride + i]);
        return;
    }
    for (int k = 0; k < slices; ++k)
        for (int r = 0; r < rows; ++r) {
            ObjectSet* const row = first + k * sliceStride + r * stride;
            for (int i = 0; i < count; ++i) f(row[i]);
        }
}

}  // namespace

// Out of line, so that the loops keep their few values in registers. An
// inline set is handled here whole: the entries below i (moving objects with
// smaller indices) are passed from the tail, which is where i goes or sits.
// Heap sets, and a full inline set that may have to grow, take the general
// path.
void ObjectSet::InsertEach(ObjectSet* first, int count, int i, int rows, int stride, int slices, int sliceStride) {
    ForEachSet(first, count, rows, stride, slices, sliceStride, [i](ObjectSet& s) {
        const int n = s.size_;
        if (s.capacity_ != kInlineCapacity || n == kInlineCapacity) {
            s.insert(i);
            return;
        }
        int* const data = s.store_.local;
        if (n == 0 || data[n - 1] > i) {
            data[n] = i;
            s.size_ = n + 1;
            return;
        }
        int k = n;
        for (; k > 0 && data[k - 1] < i; --k) data[k] = data[k - 1];
        if (k > 0 && data[k - 1] == i) {
            for (; k < n; ++k) data[k] = data[k + 1];  // present: undo the shift
            return;
        }
        data[k] = i;
        s.size_ = n + 1;
    });
}

void ObjectSet::EraseEach(ObjectSet* first, int count, int i, int rows, int stride, int slices, int sliceStride) {
    ForEachSet(first, count, rows, stride, slices, sliceStride, [i](ObjectSet& s) {
        const int n = s.size_;
        if (s.capacity_ != kInlineCapacity || n == 0) {
            s.erase(i);
            return;
        }
        int* const data = s.store_.local;
        int k = n - 1, carry = data[k];
        if (carry != i) {
            // The entries below i move one place up as the search passes
            // them; an index found absent moves them back.
            while (k > 0 && data[k - 1] < i) {
                const int next = data[k - 1];
                data[k - 1] = carry;
                carry = next;
                --k;
            }
            if (k == 0 || data[k - 1] != i) {
                for (int m = n - 1; m > k; --m) data[m] = data[m - 1];
                data[k] = carry;
                return;
            }
            data[k - 1] = carry;
        }
        s.size_ = n - 1;
    });
}

void ObjectSet::Shrink() {
    int* heap = store_.heap;
    std::memcpy(store_.local, heap, sizeof(int) * size_);
    std::free(heap);
    capacity_ = kInlineCapacity;
}

}  // namespace gridcull
