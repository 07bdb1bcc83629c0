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

void ObjectSet::Shrink() {
    int* heap = store_.heap;
    std::memcpy(store_.local, heap, sizeof(int) * size_);
    std::free(heap);
    capacity_ = kInlineCapacity;
}

}  // namespace gridcull
