#include "core/wrt/wrt_workers.h"

#include "core/platform/platform.h"

namespace kvn {

bool runRanges(void* records, size_t stride, uint32_t count, void (*body)(void*), UnstartedRange unstarted) {
    auto* base = static_cast<uint8_t*>(records);
    Thread threads[kWrtMaxWorkers];
    bool all_started = true;
    for (uint32_t i = 1; i < count && all_started; ++i) {
        if (startThread(&threads[i], body, base + i * stride, kStack16MiB) != Error::None)
            all_started = unstarted == UnstartedRange::RunHere;
    }
    if (all_started || unstarted == UnstartedRange::RunHere) {
        if (count > 0) body(base);
        for (uint32_t i = 1; i < count; ++i)
            if (!threads[i].started) body(base + i * stride);
    }
    for (uint32_t i = 1; i < count; ++i) joinThread(&threads[i]);
    return all_started;
}

}  // namespace kvn
