// Lock-control handler that binds a container (List, Queue) to a pthread
// mutex. Shared by the common library and the daemon; private to both (not
// installed).
#pragma once

#include <pthread.h>

#include <cstdint>

// data is the container's pthread_mutex_t*: enable locks it, otherwise it is
// unlocked. 1 when data is null; the mutex calls' results are not looked at.
inline uint8_t set_Mutex_Lock(bool enable, void* data)
{
    if (data == nullptr) {
        return 1;
    }
    pthread_mutex_t* mutex = static_cast<pthread_mutex_t*>(data);
    if (enable) {
        pthread_mutex_lock(mutex);
    } else {
        pthread_mutex_unlock(mutex);
    }
    return 0;
}
