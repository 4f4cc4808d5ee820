// List<T>: array list of fixed capacity, elements densely packed from index 0.
//
// Storage is allocated once, in init, with calloc(size, sizeof(T)) and
// returned with free; the list never grows by itself. Elements are copied by
// value; the list never owns what they point to. T must be trivially
// copyable (ranges are moved as bytes, one block move per range).
//
// Results (uint8_t): 0 success, 1 refused (full / range not held / not
// found / bad argument), and lock-control failures as described in
// container_common.h (r + 1 before any change, r + 3 after the work).
// Members marked (locked) run between handler(true) and handler(false) when
// a handler is bound and their lock_ignore argument is false; with
// lock_ignore true the caller holds whatever lock protects the list.
//
// A list without storage (before init, init(0), or calloc failure) has
// capacity 0: every store is refused as full and set_Lock_Control_Handler
// is refused with container_lock_refused. set_Clear on such a list changes
// nothing and returns 0 (the list is empty, as asked).
//
// get_Data_Reference and operator[] throw the const char* exception
// "get_Data_Reference(): out of index" for an index not held; they never lock.
//
// Not copyable: the list owns its storage.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <type_traits>

#include "container_common.h"

template <typename T>
class List {
    static_assert(std::is_trivially_copyable<T>::value, "List ranges are moved as bytes");

public:
    typedef bool (*Equal_Function)(const T& element, const T& data);

    List();                            // no storage, no handler
    explicit List(unsigned int size);  // as List() then init(size)
    virtual ~List();                   // frees the storage
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    // Releases earlier storage, allocates size zeroed elements, empties the
    // list and unbinds the handler.
    void init(unsigned int size);

    // Binds handler and its argument. 0 bound; container_lock_refused when the
    // list has no storage (nothing bound).
    uint8_t set_Lock_Control_Handler(uint8_t (*set_lock)(bool, void*), void* data);

    // Calls the bound handler by hand (true = lock, false = unlock), so that a
    // sequence of members can run under one lock with lock_ignore true.
    // 0 done or no handler bound; r + 1 (lock) or r + 3 (unlock) on failure.
    uint8_t set_Manual_Lock(bool enable);

    // (locked) Changes the capacity keeping the elements. 0 resized; 1 size 0,
    // size below the number held, or allocation failure (list unchanged).
    uint8_t set_Size(unsigned int size, bool lock_ignore);

    // (locked) Zero-fills the whole capacity and empties the list: 0.
    uint8_t set_Clear(bool lock_ignore);

    // (locked) Overwrites count held elements from index with data[0..count-1]:
    // 0 written; 1 data null or the range is not held.
    uint8_t set_Data(unsigned int index, const T* data, unsigned int count, bool lock_ignore);
    uint8_t set_Data(unsigned int index, const T& data, bool lock_ignore);

    // (locked) Appends at index buffer_count: 0 appended; 1 full (for the
    // array form: data null or fewer than count free places; all or nothing).
    uint8_t set_Data_Add(const T& data, bool lock_ignore);
    uint8_t set_Data_Add(const T* data, unsigned int count, bool lock_ignore);

    // (locked) Inserts before index (0..buffer_count), moving the tail up:
    // 0 inserted; 1 data null, index above buffer_count or not enough room.
    uint8_t set_Insert(unsigned int index, const T* data, unsigned int count, bool lock_ignore);
    uint8_t set_Insert(unsigned int index, const T& data, bool lock_ignore);

    // (locked) Removes count elements from index, moving the rest down:
    // 0 removed; 1 index >= buffer_count or fewer than count held from index.
    uint8_t set_Remove(unsigned int index, unsigned int count, bool lock_ignore);
    uint8_t set_Remove(unsigned int index, bool lock_ignore);
    // Removes the first element equal to data: get_Find_Index's non-zero
    // result unchanged, else set_Remove(index)'s result. Search and removal
    // lock separately.
    uint8_t set_Remove(const T& data, bool lock_ignore);
    // Removes every element equal to data, one set_Remove(data) at a time:
    // 0 at least one removed; 1 none matched; a handler failure code as soon
    // as one occurs (earlier removals stay). Not atomic as a whole.
    uint8_t set_Remove_All(const T& data, bool lock_ignore);

    // (locked) Copies count held elements from index into data:
    // 0 copied; 1 data null or range not held.
    uint8_t get_Data(unsigned int index, T* data, unsigned int count, bool lock_ignore);
    uint8_t get_Data(unsigned int index, T* data, bool lock_ignore);

    T& get_Data_Reference(unsigned int index);  // throws for index >= buffer_count
    T& operator[](unsigned int index);          // get_Data_Reference(index)

    unsigned int get_Count();  // buffer_count, read without locking
    unsigned int get_Size();   // capacity, without locking

    // (locked) Index of the first (or, _Last, the last) held element equal to
    // data (==, or equal(element, data) for the _With forms), scanning the
    // elements held when the search starts. 0 found, *index written;
    // 1 not found, index null or equal null.
    uint8_t get_Find_Index(const T& data, unsigned int* index, bool lock_ignore);
    uint8_t get_Find_Index_With(const T& data, unsigned int* index, Equal_Function equal, bool lock_ignore);
    uint8_t get_Find_Index_Last(const T& data, unsigned int* index, bool lock_ignore);
    uint8_t get_Find_Index_Last_With(const T& data, unsigned int* index, Equal_Function equal, bool lock_ignore);

protected:
    T* buffer_ptr;                       // elements 0..buffer_count-1; null before init
    unsigned int buffer_size;            // capacity
    volatile unsigned int buffer_count;  // elements held (volatile: unlocked peeks)
    void* lock_data;                     // argument passed to the handler
    uint8_t (*set_Lock)(bool, void*);    // null when the list is unlocked

private:
    template <typename Work>
    uint8_t run_locked(bool lock_ignore, Work work);
    bool get_range_held(unsigned int index, unsigned int count) const;
    uint8_t set_insert_held(unsigned int index, const T* data, unsigned int count);
    uint8_t get_find(const T& data, unsigned int* index, Equal_Function equal, bool last, bool lock_ignore);
};

#include "list_impl.h"
