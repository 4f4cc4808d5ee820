// Queue<T>: first-in first-out ring of fixed capacity.
//
// Storage is allocated once, in init, with calloc(size, sizeof(T)) and
// returned with free; the queue never grows. All buffer_size slots are
// usable (full when buffer_count == buffer_size, empty when 0). Elements are
// copied by value; for Queue<BMC::Packet*> the queue holds pointers only: a
// record belongs to whoever enqueued it until somebody dequeues it, and the
// dequeuer then owns (frees) it. A refused Enqueue leaves ownership with the
// caller. init and the destructor drop held elements without touching what
// they point to. T must be trivially copyable (slots are moved as bytes).
//
// Results (uint8_t): 0 success, 1 refused (full / empty / not found / bad
// argument), and lock-control failures as described in container_common.h
// (r + 1 before any change, r + 3 after the work). Members marked (locked)
// run between handler(true) and handler(false) when a handler is bound.
//
// A queue without storage (before init, init(0), or calloc failure) has
// capacity 0: every store is refused as full, every take as empty, and
// set_Lock_Control_Handler is refused with container_lock_refused.
//
// Not copyable: the queue owns its storage.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "container_common.h"

template <typename T>
class Queue {
    static_assert(std::is_trivially_copyable<T>::value, "Queue slots are moved as bytes");

public:
    typedef bool (*Equal_Function)(const T& element, const T& data);

    Queue();                            // no storage, no handler
    explicit Queue(unsigned int size);  // as Queue() then init(size)
    virtual ~Queue();                   // frees the storage
    Queue(const Queue&) = delete;
    Queue& operator=(const Queue&) = delete;

    // Releases earlier storage, allocates size zeroed slots, empties the queue
    // and unbinds the handler (bind again after every init).
    void init(unsigned int size);

    // Binds handler and its argument. 0 bound; container_lock_refused when the
    // queue has no storage (nothing bound).
    uint8_t set_Lock_Control_Handler(uint8_t (*set_lock)(bool, void*), void* data);

    // (locked) 0 stored at the rear; 1 full.
    uint8_t Enqueue(const T& data);
    // (locked) Stores all count elements of data in order, or none:
    // 0 stored (also for count 0); 1 data null or fewer than count free slots.
    uint8_t Enqueue(const T* data, unsigned int count);
    // (locked) 0 the front element copied to *data and removed; 1 empty or data null.
    uint8_t Dequeue(T* data);
    // (locked) Takes exactly count elements into data[0..count-1], or none:
    // 0 taken (also for count 0); 1 data null or fewer than count held.
    uint8_t Dequeue(T* data, unsigned int count);

    // (locked) Changes the capacity keeping the held elements in order, and
    // keeps the bound handler. 0 resized; 1 size 0, size below the number of
    // held elements, or allocation failure (the queue is then unchanged).
    uint8_t set_Size(unsigned int size);
    // (locked) Drops every element: 0.
    uint8_t set_Clear();

    unsigned int get_Count();  // buffer_count, read without locking
    unsigned int get_Size();   // capacity, without locking
    bool get_Full();           // buffer_count == buffer_size, without locking

    // (locked) 0 the front element copied to *data (not removed); 1 empty or data null.
    uint8_t get_Front(T* data);

    // (locked) Searches the held elements for one equal to data (==, or
    // equal(element, data) for the _With forms). *index receives its position
    // counted from the front (0 = next to be dequeued). The plain forms find
    // the first match from the front, the _Last forms the last.
    // 0 found; 1 not found, index null or equal null.
    uint8_t get_Find_Index(const T& data, unsigned int* index);
    uint8_t get_Find_Index_With(const T& data, unsigned int* index, Equal_Function equal);
    uint8_t get_Find_Index_Last(const T& data, unsigned int* index);
    uint8_t get_Find_Index_Last_With(const T& data, unsigned int* index, Equal_Function equal);

protected:
    T* buffer_ptr;                       // buffer_size slots; null before init
    unsigned int buffer_size;            // capacity
    unsigned int buffer_rear;            // slot the next Enqueue writes
    unsigned int buffer_front;           // slot the next Dequeue reads
    volatile unsigned int buffer_count;  // elements held (volatile: unlocked peeks)
    void* lock_data;                     // argument passed to the handler
    uint8_t (*set_Lock)(bool, void*);    // null when the queue is unlocked

private:
    template <typename Work>
    uint8_t run_locked(Work work);
    unsigned int get_slot(unsigned int position) const;
    uint8_t get_find(const T& data, unsigned int* index, Equal_Function equal, bool last);
};

#include "queue_impl.h"
