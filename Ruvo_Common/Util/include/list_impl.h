// Member definitions of List<T>; included at the end of list.h.
#pragma once

template <typename T>
List<T>::List() : buffer_ptr(nullptr), buffer_size(0), buffer_count(0), lock_data(nullptr), set_Lock(nullptr)
{}

template <typename T>
List<T>::List(unsigned int size) : List()
{
    init(size);
}

template <typename T>
List<T>::~List()
{
    container_storage::release(buffer_ptr);
}

template <typename T>
void List<T>::init(unsigned int size)
{
    container_storage::replace(buffer_ptr, buffer_size, container_storage::allocate<T>(size), size);
    buffer_count = 0;
    lock_data = nullptr;
    set_Lock = nullptr;
}

template <typename T>
uint8_t List<T>::set_Lock_Control_Handler(uint8_t (*set_lock)(bool, void*), void* data)
{
    if (buffer_ptr == nullptr || buffer_size == 0)
        return container_lock_refused;
    set_Lock = set_lock;
    lock_data = data;
    return 0;
}

template <typename T>
uint8_t List<T>::set_Manual_Lock(bool enable)
{
    uint8_t result = 0;
    if (enable) {
        container_lock::lock(set_Lock, lock_data, &result);
        return result;
    }
    return container_lock::unlock(set_Lock, lock_data, 0);
}

template <typename T>
template <typename Work>
uint8_t List<T>::run_locked(bool lock_ignore, Work work)
{
    return lock_ignore ? work() : container_lock::run(set_Lock, lock_data, work);
}

template <typename T>
bool List<T>::get_range_held(unsigned int index, unsigned int count) const
{
    return index < buffer_count && count <= buffer_count - index;
}

template <typename T>
uint8_t List<T>::set_Size(unsigned int size, bool lock_ignore)
{
    return run_locked(lock_ignore, [&]() -> uint8_t {
        if (size == 0 || size < buffer_count)
            return 1;
        T* storage = container_storage::allocate<T>(size);
        if (storage == nullptr)
            return 1;
        if (buffer_count > 0) {
            memcpy(static_cast<void*>(storage), static_cast<const void*>(buffer_ptr), sizeof(T) * buffer_count);
        }
        container_storage::replace(buffer_ptr, buffer_size, storage, size);
        return 0;
    });
}

template <typename T>
uint8_t List<T>::set_Clear(bool lock_ignore)
{
    return run_locked(lock_ignore, [&]() -> uint8_t {
        if (buffer_ptr != nullptr && buffer_size > 0) {
            memset(static_cast<void*>(buffer_ptr), 0, sizeof(T) * buffer_size);
            buffer_count = 0;
        }
        return 0;
    });
}

template <typename T>
uint8_t List<T>::set_Data(unsigned int index, const T* data, unsigned int count, bool lock_ignore)
{
    return run_locked(lock_ignore, [&]() -> uint8_t {
        if (data == nullptr || !get_range_held(index, count))
            return 1;
        for (unsigned int i = 0; i < count; ++i)
            buffer_ptr[index + i] = data[i];
        return 0;
    });
}

template <typename T>
uint8_t List<T>::set_Data(unsigned int index, const T& data, bool lock_ignore)
{
    return set_Data(index, &data, 1, lock_ignore);
}

template <typename T>
uint8_t List<T>::set_Data_Add(const T& data, bool lock_ignore)
{
    return set_Data_Add(&data, 1, lock_ignore);
}

template <typename T>
uint8_t List<T>::set_Data_Add(const T* data, unsigned int count, bool lock_ignore)
{
    // The end is taken under the lock: another thread may append meanwhile.
    return run_locked(lock_ignore, [&]() -> uint8_t { return set_insert_held(buffer_count, data, count); });
}

template <typename T>
uint8_t List<T>::set_insert_held(unsigned int index, const T* data, unsigned int count)
{
    if (data == nullptr || index > buffer_count || count > buffer_size - buffer_count)
        return 1;
    unsigned int tail = buffer_count - index;
    if (tail > 0 && count > 0) {
        memmove(static_cast<void*>(buffer_ptr + index + count), static_cast<const void*>(buffer_ptr + index),
                sizeof(T) * tail);
    }
    for (unsigned int i = 0; i < count; ++i)
        buffer_ptr[index + i] = data[i];
    buffer_count = buffer_count + count;
    return 0;
}

template <typename T>
uint8_t List<T>::set_Insert(unsigned int index, const T* data, unsigned int count, bool lock_ignore)
{
    return run_locked(lock_ignore, [&]() -> uint8_t { return set_insert_held(index, data, count); });
}

template <typename T>
uint8_t List<T>::set_Insert(unsigned int index, const T& data, bool lock_ignore)
{
    return set_Insert(index, &data, 1, lock_ignore);
}

template <typename T>
uint8_t List<T>::set_Remove(unsigned int index, unsigned int count, bool lock_ignore)
{
    return run_locked(lock_ignore, [&]() -> uint8_t {
        if (!get_range_held(index, count))
            return 1;
        unsigned int tail = buffer_count - index - count;
        if (tail > 0 && count > 0) {
            memmove(static_cast<void*>(buffer_ptr + index), static_cast<const void*>(buffer_ptr + index + count),
                    sizeof(T) * tail);
        }
        buffer_count = buffer_count - count;
        return 0;
    });
}

template <typename T>
uint8_t List<T>::set_Remove(unsigned int index, bool lock_ignore)
{
    return set_Remove(index, 1, lock_ignore);
}

template <typename T>
uint8_t List<T>::set_Remove(const T& data, bool lock_ignore)
{
    unsigned int index = 0;
    uint8_t result = get_Find_Index(data, &index, lock_ignore);
    if (result != 0)
        return result;
    return set_Remove(index, lock_ignore);
}

template <typename T>
uint8_t List<T>::set_Remove_All(const T& data, bool lock_ignore)
{
    uint8_t result = 1;
    uint8_t r;
    while ((r = set_Remove(data, lock_ignore)) == 0)
        result = 0;
    if (r != 1)
        result = r;
    return result;
}

template <typename T>
uint8_t List<T>::get_Data(unsigned int index, T* data, unsigned int count, bool lock_ignore)
{
    return run_locked(lock_ignore, [&]() -> uint8_t {
        if (data == nullptr || !get_range_held(index, count))
            return 1;
        for (unsigned int i = 0; i < count; ++i)
            data[i] = buffer_ptr[index + i];
        return 0;
    });
}

template <typename T>
uint8_t List<T>::get_Data(unsigned int index, T* data, bool lock_ignore)
{
    return get_Data(index, data, 1, lock_ignore);
}

template <typename T>
T& List<T>::get_Data_Reference(unsigned int index)
{
    if (index >= buffer_count)
        throw "get_Data_Reference(): out of index";
    return buffer_ptr[index];
}

template <typename T>
T& List<T>::operator[](unsigned int index)
{
    return get_Data_Reference(index);
}

template <typename T>
unsigned int List<T>::get_Count()
{
    return buffer_count;
}

template <typename T>
unsigned int List<T>::get_Size()
{
    return buffer_size;
}

template <typename T>
uint8_t List<T>::get_find(const T& data, unsigned int* index, Equal_Function equal, bool last, bool lock_ignore)
{
    return run_locked(lock_ignore, [&]() -> uint8_t {
        auto element = [this](unsigned int i) -> const T& { return buffer_ptr[i]; };
        return container_search::find(buffer_count, element, data, equal, last, index);
    });
}

template <typename T>
uint8_t List<T>::get_Find_Index(const T& data, unsigned int* index, bool lock_ignore)
{
    return get_find(data, index, nullptr, false, lock_ignore);
}

template <typename T>
uint8_t List<T>::get_Find_Index_With(const T& data, unsigned int* index, Equal_Function equal, bool lock_ignore)
{
    if (equal == nullptr)
        return 1;
    return get_find(data, index, equal, false, lock_ignore);
}

template <typename T>
uint8_t List<T>::get_Find_Index_Last(const T& data, unsigned int* index, bool lock_ignore)
{
    return get_find(data, index, nullptr, true, lock_ignore);
}

template <typename T>
uint8_t List<T>::get_Find_Index_Last_With(const T& data, unsigned int* index, Equal_Function equal, bool lock_ignore)
{
    if (equal == nullptr)
        return 1;
    return get_find(data, index, equal, true, lock_ignore);
}
