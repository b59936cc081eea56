// The process-wide lock that serialises GPU work on the device layer's shared
// queue: a decode on a handle's own stream (no caller stream) holds it from
// its first launch to its final wait, a compress call for its whole job.
#pragma once

#include "core/platform/platform.h"

namespace kvn {

extern ExclusiveLock g_gpu_work_lock;

// Holds g_gpu_work_lock for a scope when the work runs on the handle's own
// stream; a caller's stream orders the work itself.
class OwnStreamWorkLock {
public:
    explicit OwnStreamWorkLock(bool own_stream) : held_(own_stream) {
        if (held_) g_gpu_work_lock.lock();
    }
    ~OwnStreamWorkLock() {
        if (held_) g_gpu_work_lock.unlock();
    }
    OwnStreamWorkLock(const OwnStreamWorkLock&) = delete;
    OwnStreamWorkLock& operator=(const OwnStreamWorkLock&) = delete;

private:
    bool held_;
};

}  // namespace kvn
