// Streams as ordered queues and events as markers in them. Eager mode runs
// work as it is queued; lazy mode keeps it until a call forces its stream:
// a synchronisation, a synchronous copy (the legacy stream and the blocking
// streams only), an event wait, a free. Lazy mode 2 runs the other streams'
// queued work before a synchronised stream's own, so that work a stream
// queued without waiting for another's event runs too early.
#include <chrono>
#include <cstring>
#include <set>

#include "tests/cuda/stand_in_driver/exported.h"
#include "tests/cuda/stand_in_driver/stand_in_state.h"

namespace kvn::stand_in {

namespace {

constexpr unsigned kNonBlocking = 1;

double nowMs() {
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

}  // namespace

Stream* streamOf(void* handle) {
    State& s = state();
    if (!handle) return &s.legacy;
    Stream* stream = static_cast<Stream*>(handle);
    return s.streams.count(stream) ? stream : nullptr;
}

void enqueue(Stream* stream, std::function<void()> work) {
    if (!state().lazy) {
        work();
        return;
    }
    stream->queue.push_back(std::move(work));
}

void flush(Stream* stream) {
    // A piece of work may force another stream (an event wait), never its own.
    while (!stream->queue.empty()) {
        std::function<void()> work = std::move(stream->queue.front());
        stream->queue.pop_front();
        work();
    }
}

void flushBlocking() {
    State& s = state();
    for (Stream* stream : s.streams)
        if (!stream->non_blocking) flush(stream);
    flush(&s.legacy);
}

void flushAll() {
    State& s = state();
    for (Stream* stream : s.streams) flush(stream);
    flush(&s.legacy);
}

}  // namespace kvn::stand_in

using namespace kvn::stand_in;

namespace {

Result createStream(const char* name, void** out, unsigned flags) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter(name)) return r;
    if (!out || (flags & ~kNonBlocking)) return kInvalidValue;
    Stream* stream = new Stream;
    stream->non_blocking = flags & kNonBlocking;
    s.streams.insert(stream);
    *out = stream;
    return kSuccess;
}

Result destroyStream(const char* name, void* handle) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter(name)) return r;
    Stream* stream = static_cast<Stream*>(handle);
    if (!handle || !s.streams.count(stream)) return kInvalidHandle;
    // Work already queued still runs.
    flush(stream);
    s.streams.erase(stream);
    delete stream;
    return kSuccess;
}

Result synchronizeStream(const char* name, void* handle) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter(name)) return r;
    Stream* stream = streamOf(handle);
    if (!stream) return kInvalidHandle;
    if (state().others_first)
        for (Stream* other : std::set<Stream*>(state().streams))
            if (other != stream && state().streams.count(other)) flush(other);
    if (stream == &state().legacy) flushBlocking();
    else flush(stream);
    return state().sticky;
}

Event* eventOf(void* handle) {
    Event* event = static_cast<Event*>(handle);
    return state().events.count(event) ? event : nullptr;
}

void completeEvent(Event* event) {
    if (event->recorded && !event->done && event->stream) flush(event->stream);
}

}  // namespace

KVN_STAND_IN_EXPORT Result cuStreamCreate(void** out, unsigned flags) { return createStream("cuStreamCreate", out, flags); }
KVN_STAND_IN_EXPORT Result cuStreamDestroy_v2(void* stream) { return destroyStream("cuStreamDestroy_v2", stream); }
KVN_STAND_IN_EXPORT Result cuStreamSynchronize(void* stream) { return synchronizeStream("cuStreamSynchronize", stream); }

// The driver's CU_STREAM_ATTRIBUTE_ACCESS_POLICY_WINDOW and the leading
// CUaccessPolicyWindow of its attribute value.
constexpr int kAccessPolicyWindow = 1;
struct AccessPolicyWindow {
    uint64_t base_ptr;
    size_t num_bytes;
    float hit_ratio;
    int hit_prop;
    int miss_prop;
};

KVN_STAND_IN_EXPORT Result cuStreamSetAttribute(void* stream, int attribute, const void* value) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuStreamSetAttribute")) return r;
    if (!streamOf(stream) || !value) return kInvalidValue;
    if (attribute == kAccessPolicyWindow) {
        AccessPolicyWindow window;
        std::memcpy(&window, value, sizeof window);
        StandInL2Calls& calls = s.l2_calls;
        ++calls.windows;
        if (window.base_ptr == 0 && window.num_bytes == 0) {
            ++calls.zeroed_windows;
        } else {
            calls.window_base = window.base_ptr;
            calls.window_bytes = window.num_bytes;
            calls.hit_ratio = window.hit_ratio;
            calls.hit_prop = window.hit_prop;
        }
    }
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuEventCreate(void** out, unsigned) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuEventCreate")) return r;
    if (!out) return kInvalidValue;
    Event* event = new Event;
    s.events.insert(event);
    *out = event;
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuEventDestroy_v2(void* handle) {
    State& s = state();
    std::lock_guard guard(s.lock);
    if (const Result r = enter("cuEventDestroy_v2")) return r;
    Event* event = eventOf(handle);
    if (!event) return kInvalidHandle;
    // A queued record still runs; it must not touch the freed event.
    completeEvent(event);
    s.events.erase(event);
    delete event;
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuEventRecord(void* handle, void* stream_handle) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuEventRecord")) return r;
    Event* event = eventOf(handle);
    Stream* stream = streamOf(stream_handle);
    if (!event || !stream) return kInvalidHandle;
    event->stream = stream;
    event->recorded = true;
    event->done = false;
    const uint64_t recording = ++event->records;
    enqueue(stream, [event, recording] {
        event->done = true;
        event->records_done = recording;
        event->time_ms = nowMs();
    });
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuEventSynchronize(void* handle) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuEventSynchronize")) return r;
    Event* event = eventOf(handle);
    if (!event) return kInvalidHandle;
    completeEvent(event);
    return state().sticky;
}

KVN_STAND_IN_EXPORT Result cuStreamWaitEvent(void* stream_handle, void* handle, unsigned) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuStreamWaitEvent")) return r;
    Event* event = eventOf(handle);
    Stream* stream = streamOf(stream_handle);
    if (!event || !stream) return kInvalidHandle;
    if (!event->recorded || event->stream == stream) return kSuccess;
    Stream* source = event->stream;
    const uint64_t recording = event->records;
    // The waiting stream's later work runs after the source's work up to the record.
    enqueue(stream, [event, source, recording] {
        if (state().events.count(event) && event->records_done < recording) flush(source);
    });
    return kSuccess;
}

KVN_STAND_IN_EXPORT Result cuEventElapsedTime(float* ms, void* start_handle, void* end_handle) {
    std::lock_guard guard(state().lock);
    if (const Result r = enter("cuEventElapsedTime")) return r;
    Event* start = eventOf(start_handle);
    Event* end = eventOf(end_handle);
    if (!ms || !start || !end) return kInvalidHandle;
    if (!start->done || !end->done) return 600;  // not ready
    *ms = float(end->time_ms - start->time_ms);
    return kSuccess;
}
