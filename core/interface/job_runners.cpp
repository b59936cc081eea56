#include "core/interface/job_runners.h"

#include "core/interface/backend.h"
#include "core/platform/platform.h"

namespace kvn {
namespace {

constexpr int32_t kThreadNotStarted = -7;

// The backend's body for a job kind, or nothing: the job then keeps its
// starting result, a device failure.
template <typename Job>
void runBody(void (*body)(Job*), Job* job) {
    if (body) body(job);
}

void compressThreadMain(void* job) { runBody(backend().runCompressJob, static_cast<CompressJob*>(job)); }

void decodeThreadMain(void* job) { runBody(backend().runDecodeJob, static_cast<DecompressJob*>(job)); }

int32_t runOnWorkerThread(ThreadBody body, void* job, const int32_t& result) {
    Thread thread;
    if (startThread(&thread, body, job, kStack32MiB) != Error::None) return kThreadNotStarted;
    joinThread(&thread);
    return result;
}

}  // namespace

int32_t runCompressOnWorkerThread(CompressJob* job) { return runOnWorkerThread(compressThreadMain, job, job->result); }

int32_t runDecodeOnWorkerThread(DecompressJob* job) { return runOnWorkerThread(decodeThreadMain, job, job->result); }

int32_t runCompressOnCallerThread(CompressJob* job) {
    runBody(backend().runCompressJob, job);
    return job->result;
}

int32_t runDeviceDecodeOnCallerThread(DeviceDecompressJob* job) {
    runBody(backend().runDeviceDecodeJob, job);
    return job->result;
}

}  // namespace kvn
