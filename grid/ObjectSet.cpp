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

// Out of line, so that the loops keep their few values in registers. Index i
// below every entry, the usual case, is handled before the general path.
void ObjectSet::InsertEach(ObjectSet* s, int count, int i) {
    for (ObjectSet* const end = s + count; s != end; ++s) {
        const int n = s->size_;
        int* data = s->Data();
        if (n != s->capacity_ && (n == 0 || data[n - 1] > i)) {
            data[n] = i;
            s->size_ = n + 1;
        } else {
            s->insert(i);
        }
    }
}

void ObjectSet::EraseEach(ObjectSet* s, int count, int i) {
    for (ObjectSet* const end = s + count; s != end; ++s) {
        const int n = s->size_ - 1;
        if (n >= 0 && s->Data()[n] == i) {
            s->size_ = n;
            if (n == kInlineCapacity / 2 && s->IsOnHeap()) s->Shrink();
        } else {
            s->erase(i);
        }
    }
}

void ObjectSet::Shrink() {
    int* heap = store_.heap;
    std::memcpy(store_.local, heap, sizeof(int) * size_);
    std::free(heap);
    capacity_ = kInlineCapacity;
}

}  // namespace gridcull
