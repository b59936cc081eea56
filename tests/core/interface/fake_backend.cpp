#include "core/interface/fake_backend.h"

#include <pthread.h>

namespace kvn {
namespace test {
namespace {

FakeDevice g_device;
pthread_t g_test_thread;
uint64_t g_next_event = 100;
int32_t g_event_creates = 0;

bool fakeBringUp() {
    ++g_device.bring_ups;
    return g_device.bring_up_ok;
}

Error fakeMemFree(uint64_t buffer) {
    g_device.freed_buffers.push_back(buffer);
    return Error::None;
}

Error fakeMemFreeHost(void* pointer) {
    g_device.freed_host.push_back(pointer);
    return Error::None;
}

Error fakeMemGetInfo(uint64_t* free_bytes, uint64_t* total_bytes) {
    *free_bytes = g_device.mem_free_bytes;
    *total_bytes = g_device.mem_total_bytes;
    return Error::None;
}

Error fakeStreamSynchronize(uint64_t stream) {
    g_device.synced_streams.push_back(stream);
    return g_device.stream_sync_result;
}

Error fakeStreamDestroy(uint64_t stream) {
    g_device.destroyed_streams.push_back(stream);
    return Error::None;
}

Error fakeEventCreate(uint64_t* out, uint32_t) {
    if (g_event_creates++ == g_device.event_create_failure_at) return Error::BadRequest;
    *out = g_next_event++;
    g_device.created_events.push_back(*out);
    return Error::None;
}

Error fakeEventRecord(uint64_t event, uint64_t) {
    g_device.recorded_events.push_back(event);
    return g_device.event_record_result;
}

Error fakeEventSynchronize(uint64_t event) {
    g_device.synced_events.push_back(event);
    return Error::None;
}

Error fakeEventElapsedTime(float* ms, uint64_t start, uint64_t end) {
    if (g_device.elapsed_result != Error::None) {
        *ms = 99.0f;  // garbage that must not be used
        return g_device.elapsed_result;
    }
    *ms = fakeElapsed(start, end);
    return Error::None;
}

Error fakeEventDestroy(uint64_t event) {
    g_device.destroyed_events.push_back(event);
    return Error::None;
}

CoreDeviceOps fakeOps() {
    CoreDeviceOps ops{.memFree = fakeMemFree, .memFreeHost = fakeMemFreeHost, .streamDestroy = fakeStreamDestroy};
    if (g_device.has_mem_get_info) ops.memGetInfo = fakeMemGetInfo;
    if (g_device.has_stream_sync) ops.streamSynchronize = fakeStreamSynchronize;
    if (g_device.has_event_ops) {
        ops.eventCreate = fakeEventCreate;
        ops.eventRecord = fakeEventRecord;
        ops.eventSynchronize = fakeEventSynchronize;
        ops.eventElapsedTime = fakeEventElapsedTime;
        ops.eventDestroy = fakeEventDestroy;
    }
    return ops;
}

bool onTestThread() { return pthread_equal(pthread_self(), g_test_thread) != 0; }

size_t stackBytes() {
    pthread_attr_t attr;
    size_t bytes = 0;
    if (pthread_getattr_np(pthread_self(), &attr) == 0) {
        pthread_attr_getstacksize(&attr, &bytes);
        pthread_attr_destroy(&attr);
    }
    return bytes;
}

// Where the job ran: which thread, and with how much stack.
void noteThread() {
    g_device.job_on_caller_thread = onTestThread();
    g_device.job_stack_bytes = stackBytes();
}

void fakeCompress(CompressJob* job) {
    ++g_device.jobs_run;
    g_device.compress_job = *job;
    noteThread();
    job->result = g_device.job_result;
}

void fakeDecode(DecompressJob* job) {
    ++g_device.jobs_run;
    g_device.decode_job = *job;
    noteThread();
    job->result = g_device.job_result;
}

void fakeDeviceDecode(DeviceDecompressJob* job) {
    ++g_device.jobs_run;
    g_device.device_job = *job;
    noteThread();
    job->result = g_device.job_result;
    job->fallback = g_device.job_fallback;
}

Backend fakeBackendSlots() {
    return Backend{.bringUp = fakeBringUp,
                   .deviceOps = fakeOps,
                   .runCompressJob = fakeCompress,
                   .runDecodeJob = fakeDecode,
                   .runDeviceDecodeJob = fakeDeviceDecode};
}

Backend g_backend = fakeBackendSlots();

}  // namespace

FakeDevice& fakeDevice() { return g_device; }

void resetFakeBackend() {
    g_device = FakeDevice{};
    g_test_thread = pthread_self();
    g_next_event = 100;
    g_event_creates = 0;
    g_backend = fakeBackendSlots();
}

}  // namespace test

Backend& backend() { return test::g_backend; }

}  // namespace kvn
