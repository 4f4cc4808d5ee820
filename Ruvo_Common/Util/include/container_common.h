// Shared by the Queue and List containers: the lock-control protocol, the
// storage they allocate once, in init, and their linear search.
//
// A lock-control handler is a plain function uint8_t (bool enable, void* data):
// called with true to lock and false to unlock, with the opaque data the
// container was bound with; 0 means success, anything else a failure code r.
// A container member that locks first calls handler(true, data); a failure
// ends the member before any change with the result r + 1. After its work it
// calls handler(false, data); a failure replaces the member's own result with
// r + 3 while the work stays done. Results are uint8_t, so both sums wrap
// modulo 256 (a lock failure of 255 yields 0, an unlock failure of 253
// yields 0): handlers should keep their codes small, as a mutex handler
// returning 1 does (lock failure 2, unlock failure 4).
#pragma once

#include <cstdint>
#include <cstdlib>

typedef uint8_t (*Lock_Control_Handler)(bool enable, void* data);

// Result of set_Lock_Control_Handler when the container has no storage
// (never initialised, capacity 0 or allocation failed): nothing is bound.
const uint8_t container_lock_refused = 1;

namespace container_lock {

// Takes the lock when a handler is bound. Returns true when the member may go
// on; false with *result = r + 1 when the handler failed.
inline bool lock(Lock_Control_Handler handler, void* data, uint8_t* result)
{
    if (handler == nullptr)
        return true;
    uint8_t r = handler(true, data);
    if (r == 0)
        return true;
    *result = static_cast<uint8_t>(r + 1);
    return false;
}

// Releases the lock when a handler is bound; returns result, or r + 3 when
// the handler failed.
inline uint8_t unlock(Lock_Control_Handler handler, void* data, uint8_t result)
{
    if (handler == nullptr)
        return result;
    uint8_t r = handler(false, data);
    return r == 0 ? result : static_cast<uint8_t>(r + 3);
}

// Runs work() between lock and unlock, with the result conventions above.
template <typename Work>
uint8_t run(Lock_Control_Handler handler, void* data, Work work)
{
    uint8_t result = 0;
    if (!lock(handler, data, &result))
        return result;
    return unlock(handler, data, work());
}

}  // namespace container_lock

namespace container_storage {

// size zeroed elements from calloc, or null for size 0 (calloc(0) may return
// a block; a container of capacity 0 keeps none) or when calloc fails.
template <typename T>
T* allocate(unsigned int size)
{
    return size > 0 ? static_cast<T*>(calloc(size, sizeof(T))) : nullptr;
}

// Frees storage from allocate (null allowed) and sets the pointer to null.
template <typename T>
void release(T*& storage)
{
    if (storage != nullptr)
        free(storage);
    storage = nullptr;
}

// Frees the old storage and takes fresh (from allocate) in its place; the
// capacity is size, or 0 when fresh is null.
template <typename T>
void replace(T*& storage, unsigned int& capacity, T* fresh, unsigned int size)
{
    release(storage);
    storage = fresh;
    capacity = fresh != nullptr ? size : 0;
}

}  // namespace container_storage

namespace container_search {

// Position of the first (or, when last, the last) of count elements, read
// through element(i), that equals data: element == data, or equal(element,
// data) when equal is set. 0 found, *index written; 1 not found or index null.
template <typename T, typename Element>
uint8_t find(unsigned int count, Element element, const T& data, bool (*equal)(const T&, const T&), bool last,
             unsigned int* index)
{
    if (index == nullptr)
        return 1;
    uint8_t result = 1;
    for (unsigned int i = 0; i < count; ++i) {
        const T& candidate = element(i);
        if (equal != nullptr ? equal(candidate, data) : candidate == data) {
            *index = i;
            result = 0;
            if (!last)
                break;
        }
    }
    return result;
}

}  // namespace container_search
