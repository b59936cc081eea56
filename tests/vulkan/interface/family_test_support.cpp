#include "family_test_support.h"

#include <algorithm>
#include <cstring>

namespace kvn::test {
namespace {

JobLog* g_log = new JobLog;  // replaced for each test, when every job has been joined

template <typename Job>
void finish(Job* job) {
    if (g_log->blocking) g_log->gate.wait();
    job->result = g_log->result;
    g_log->finished_seq.store(++g_log->seq);
    ++g_log->jobs_run;
}

void recordCompress(CompressJob* job) {
    g_log->compress_job = *job;
    std::copy(g_log->output.begin(), g_log->output.end(), job->dst_host);
    finish(job);
}

void recordDecode(DecompressJob* job) {
    g_log->decode_job = *job;
    finish(job);
}

void recordDeviceDecode(DeviceDecompressJob* job) {
    g_log->device_job = *job;
    job->fallback = g_log->fallback;
    finish(job);
}

bool deviceIsThere() { return true; }

}  // namespace

JobLog& jobLog() { return *g_log; }

void FamilyTest::SetUp() {
    delete g_log;
    g_log = new JobLog;
    saved_ = backend();
    backend().bringUp = deviceIsThere;
    backend().runCompressJob = recordCompress;
    backend().runDecodeJob = recordDecode;
    backend().runDeviceDecodeJob = recordDeviceDecode;
}

void FamilyTest::TearDown() {
    g_log->gate.open();  // nothing may stay blocked
    injectHeapAllocFailure(-1);
    injectThreadStartFailure(-1);
    for (void* handle : handles_) kvnDestroy_vk(handle);
    backend() = saved_;
}

void* FamilyTest::makeFamilyHandle() {
    void* handle = nullptr;
    EXPECT_EQ(kvnCreate_vk(&handle), 0u);
    handles_.push_back(handle);
    return handle;
}

void* FamilyTest::makeInterfaceHandle() {
    void* handle = nullptr;
    EXPECT_EQ(kvnCreate(&handle), 0u);
    handles_.push_back(handle);
    return handle;
}

}  // namespace kvn::test
