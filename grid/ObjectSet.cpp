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

// Out of line, so that the loops keep their few values in registers. The
// usual case, an inline set with room whose entries all lie above i (or, to
// erase, whose last entry is i), is decided before the general path.
void ObjectSet::InsertEach(ObjectSet* first, int count, int i, int rows, int stride) {
    for (; rows > 0; --rows, first += stride) {
        for (ObjectSet *s = first, *const end = first + count; s != end; ++s) {
            const unsigned n = static_cast<unsigned>(s->size_);
            if (s->capacity_ == kInlineCapacity) {
                int* data = s->store_.local;
                if (n == 0 || (n < kInlineCapacity && data[n - 1] > i)) {
                    data[n] = i;
                    s->size_ = static_cast<int>(n + 1);
                    continue;
                }
            }
            s->insert(i);
        }
    }
}

void ObjectSet::EraseEach(ObjectSet* first, int count, int i, int rows, int stride) {
    for (; rows > 0; --rows, first += stride) {
        for (ObjectSet *s = first, *const end = first + count; s != end; ++s) {
            const unsigned n = static_cast<unsigned>(s->size_);
            if (s->capacity_ == kInlineCapacity && n != 0 && s->store_.local[n - 1] == i) {
                s->size_ = static_cast<int>(n - 1);
                continue;
            }
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
