// Lock-control handlers shared by the container tests.
#pragma once

#include <cstdint>

// set_Mutex_Lock, the handler the modules bind their containers with.
#include "mutex_lock_handler.h"

// A handler whose results the test chooses; it counts its calls.
struct ScriptedLock {
    uint8_t lock_result = 0;
    uint8_t unlock_result = 0;
    int fail_lock_from_call = 0;  // when > 0, lock calls from this number on fail
    int locks = 0;
    int unlocks = 0;

    static uint8_t handler(bool enable, void* data)
    {
        ScriptedLock* self = static_cast<ScriptedLock*>(data);
        if (!enable) {
            ++self->unlocks;
            return self->unlock_result;
        }
        ++self->locks;
        if (self->fail_lock_from_call > 0 && self->locks < self->fail_lock_from_call)
            return 0;
        return self->lock_result;
    }
};
