// Member definitions of Queue<T>; included at the end of queue.h.
#pragma once

template <typename T>
Queue<T>::Queue()
    : buffer_ptr(nullptr), buffer_size(0), buffer_rear(0), buffer_front(0), buffer_count(0), lock_data(nullptr),
      set_Lock(nullptr)
{}

template <typename T>
Queue<T>::Queue(unsigned int size) : Queue()
{
    init(size);
}

template <typename T>
Queue<T>::~Queue()
{
    container_storage::release(buffer_ptr);
}

template <typename T>
void Queue<T>::init(unsigned int size)
{
    container_storage::replace(buffer_ptr, buffer_size, container_storage::allocate<T>(size), size);
    buffer_rear = 0;
    buffer_front = 0;
    buffer_count = 0;
    lock_data = nullptr;
    set_Lock = nullptr;
}

template <typename T>
uint8_t Queue<T>::set_Lock_Control_Handler(uint8_t (*set_lock)(bool, void*), void* data)
{
    if (buffer_ptr == nullptr || buffer_size == 0)
        return container_lock_refused;
    set_Lock = set_lock;
    lock_data = data;
    return 0;
}

template <typename T>
template <typename Work>
uint8_t Queue<T>::run_locked(Work work)
{
    return container_lock::run(set_Lock, lock_data, work);
}

template <typename T>
unsigned int Queue<T>::get_slot(unsigned int position) const
{
    unsigned int slot = buffer_front + position;
    return slot >= buffer_size ? slot - buffer_size : slot;
}

template <typename T>
uint8_t Queue<T>::Enqueue(const T& data)
{
    return Enqueue(&data, 1);
}

template <typename T>
uint8_t Queue<T>::Enqueue(const T* data, unsigned int count)
{
    return run_locked([&]() -> uint8_t {
        if (data == nullptr || count > buffer_size - buffer_count)
            return 1;
        for (unsigned int i = 0; i < count; ++i) {
            buffer_ptr[buffer_rear] = data[i];
            if (++buffer_rear == buffer_size)
                buffer_rear = 0;
            buffer_count = buffer_count + 1;
        }
        return 0;
    });
}

template <typename T>
uint8_t Queue<T>::Dequeue(T* data)
{
    return Dequeue(data, 1);
}

template <typename T>
uint8_t Queue<T>::Dequeue(T* data, unsigned int count)
{
    return run_locked([&]() -> uint8_t {
        if (data == nullptr || count > buffer_count)
            return 1;
        for (unsigned int i = 0; i < count; ++i) {
            data[i] = buffer_ptr[buffer_front];
            if (++buffer_front == buffer_size)
                buffer_front = 0;
            buffer_count = buffer_count - 1;
        }
        return 0;
    });
}

template <typename T>
uint8_t Queue<T>::set_Size(unsigned int size)
{
    return run_locked([&]() -> uint8_t {
        if (size == 0 || size < buffer_count)
            return 1;
        T* storage = container_storage::allocate<T>(size);
        if (storage == nullptr)
            return 1;
        unsigned int count = buffer_count;
        for (unsigned int i = 0; i < count; ++i)
            storage[i] = buffer_ptr[get_slot(i)];
        container_storage::replace(buffer_ptr, buffer_size, storage, size);
        buffer_front = 0;
        buffer_rear = count == size ? 0 : count;
        return 0;
    });
}

template <typename T>
uint8_t Queue<T>::set_Clear()
{
    return run_locked([&]() -> uint8_t {
        buffer_rear = 0;
        buffer_front = 0;
        buffer_count = 0;
        return 0;
    });
}

template <typename T>
unsigned int Queue<T>::get_Count()
{
    return buffer_count;
}

template <typename T>
unsigned int Queue<T>::get_Size()
{
    return buffer_size;
}

template <typename T>
bool Queue<T>::get_Full()
{
    return buffer_count == buffer_size;
}

template <typename T>
uint8_t Queue<T>::get_Front(T* data)
{
    return run_locked([&]() -> uint8_t {
        if (data == nullptr || buffer_count == 0)
            return 1;
        *data = buffer_ptr[buffer_front];
        return 0;
    });
}

template <typename T>
uint8_t Queue<T>::get_find(const T& data, unsigned int* index, Equal_Function equal, bool last)
{
    return run_locked([&]() -> uint8_t {
        auto element = [this](unsigned int i) -> const T& { return buffer_ptr[get_slot(i)]; };
        return container_search::find(buffer_count, element, data, equal, last, index);
    });
}

template <typename T>
uint8_t Queue<T>::get_Find_Index(const T& data, unsigned int* index)
{
    return get_find(data, index, nullptr, false);
}

template <typename T>
uint8_t Queue<T>::get_Find_Index_With(const T& data, unsigned int* index, Equal_Function equal)
{
    if (equal == nullptr)
        return 1;
    return get_find(data, index, equal, false);
}

template <typename T>
uint8_t Queue<T>::get_Find_Index_Last(const T& data, unsigned int* index)
{
    return get_find(data, index, nullptr, true);
}

template <typename T>
uint8_t Queue<T>::get_Find_Index_Last_With(const T& data, unsigned int* index, Equal_Function equal)
{
    if (equal == nullptr)
        return 1;
    return get_find(data, index, equal, true);
}
