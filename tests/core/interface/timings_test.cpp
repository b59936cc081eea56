// Timing records: pairs of events begun around launches, resolved into
// entries through a fake device, and handed out by the timing calls; and
// the verdict and retry answers.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "core/interface/fake_backend.h"
#include "core/timing/last_timings.h"
#include "core/timing/timing_records.h"
#include "korvane.h"

namespace kvn::test {
namespace {

using TimingsTest = InterfaceTest;

const char* const kLabels[] = {"kvnLzDecodeKernel", "kvnHuffDecode4StreamKernel", "kvnScanParseKernel"};

// Begins one pair per label on `pending`, as a pipeline would.
void beginPairs(PendingTimingList& pending, int count, StreamHandle stream = 3) {
    for (int i = 0; i < count; ++i) {
        KernelTiming t = beginKernelTiming(backend().deviceOps(), true, pending, kLabels[i % 3], stream);
        ASSERT_TRUE(t.ok);
        ASSERT_EQ(t.end, pending.items()[pending.size() - 1].end);
    }
}

TEST_F(TimingsTest, BeginQueuesAPairAndRecordsItsStart) {
    PendingTimingList pending;
    KernelTiming t = beginKernelTiming(backend().deviceOps(), true, pending, "kvnLzDecodeKernel", 3);
    ASSERT_TRUE(t.ok);
    ASSERT_EQ(pending.size(), 1u);
    const PendingTiming pair = pending.items()[0];
    EXPECT_STREQ(pair.label, "kvnLzDecodeKernel");
    EXPECT_EQ(fakeDevice().created_events, (std::vector<uint64_t>{pair.start, pair.end}));
    EXPECT_EQ(fakeDevice().recorded_events, std::vector<uint64_t>{pair.start});
    EXPECT_EQ(t.end, pair.end);
    TimingList timings;
    releaseTimingLists(backend().deviceOps(), pending, timings);
    EXPECT_EQ(fakeDevice().destroyed_events, (std::vector<uint64_t>{pair.start, pair.end}));
}

TEST_F(TimingsTest, ABeginThatFailsLeavesNoEventsBehind) {
    struct Case {
        const char* what;
        bool timing_on;
        bool has_event_ops;
        int create_failure_at;
        Error record_result;
        size_t destroyed;
    } cases[] = {
        {"timing off", false, true, -1, Error::None, 0},
        {"no event operations", true, false, -1, Error::None, 0},
        {"first event refused", true, true, 0, Error::None, 0},
        {"second event refused", true, true, 1, Error::None, 1},
        {"start cannot be recorded", true, true, -1, Error::BadRequest, 2},
    };
    for (const Case& c : cases) {
        resetFakeBackend();
        fakeDevice().has_event_ops = c.has_event_ops;
        fakeDevice().event_create_failure_at = c.create_failure_at;
        fakeDevice().event_record_result = c.record_result;
        PendingTimingList pending;
        KernelTiming t = beginKernelTiming(backend().deviceOps(), c.timing_on, pending, "x", 1);
        EXPECT_FALSE(t.ok) << c.what;
        EXPECT_EQ(t.end, 0u) << c.what;
        EXPECT_TRUE(pending.empty()) << c.what;
        EXPECT_EQ(fakeDevice().destroyed_events.size(), c.destroyed) << c.what;
        EXPECT_EQ(fakeDevice().destroyed_events, std::vector<uint64_t>(fakeDevice().created_events.begin(),
                                                                       fakeDevice().created_events.end()))
            << c.what << ": every event made is destroyed";
    }
}

TEST_F(TimingsTest, ResolvingTurnsPairsIntoEntriesInOrder) {
    PendingTimingList pending;
    TimingList timings;
    ASSERT_TRUE(timings.push({"from an earlier call", 7.0f, 0}));
    beginPairs(pending, 3);
    const std::vector<PendingTiming> pairs(pending.items().begin(), pending.items().end());

    resolvePendingTimings(backend().deviceOps(), pending, timings);
    EXPECT_TRUE(pending.empty());
    ASSERT_EQ(timings.size(), 3u) << "the earlier entries are replaced";
    std::vector<uint64_t> expected_destroyed;
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_STREQ(timings.items()[i].label, kLabels[i]);
        EXPECT_EQ(timings.items()[i].milliseconds, fakeElapsed(pairs[i].start, pairs[i].end));
        expected_destroyed.push_back(pairs[i].start);
        expected_destroyed.push_back(pairs[i].end);
    }
    EXPECT_EQ(fakeDevice().synced_events, (std::vector<uint64_t>{pairs[0].end, pairs[1].end, pairs[2].end}));
    EXPECT_EQ(fakeDevice().destroyed_events, expected_destroyed) << "start, then end, pair by pair";

    // Nothing pending: the entries stay.
    resolvePendingTimings(backend().deviceOps(), pending, timings);
    EXPECT_EQ(timings.size(), 3u);
}

TEST_F(TimingsTest, AFailedReadGivesZeroAndMissingOperationsDropThePairs) {
    PendingTimingList pending;
    TimingList timings;
    beginPairs(pending, 2);
    fakeDevice().elapsed_result = Error::BadRequest;
    resolvePendingTimings(backend().deviceOps(), pending, timings);
    ASSERT_EQ(timings.size(), 2u);
    EXPECT_EQ(timings.items()[0].milliseconds, 0.0f);
    EXPECT_EQ(timings.items()[1].milliseconds, 0.0f);

    beginPairs(pending, 2);
    CoreDeviceOps without_elapsed = backend().deviceOps();
    without_elapsed.eventElapsedTime = nullptr;
    resolvePendingTimings(without_elapsed, pending, timings);
    EXPECT_TRUE(pending.empty());
    EXPECT_TRUE(timings.empty()) << "the earlier entries are gone too";
}

// Two encoder entries and three decoder entries, resolved on demand.
struct TimingsOfALastCall : TimingsTest {
    void SetUp() override {
        TimingsTest::SetUp();
        handle = makeHandle();
        beginPairs(state(handle).encoder.pending_timings, 2);
        beginPairs(state(handle).decoder.pending_timings, 3);
    }
    void* handle = nullptr;
};

TEST_F(TimingsOfALastCall, GetLastTimingsCopiesEncoderEntriesFirstUpToCap) {
    uint64_t count = 0;
    EXPECT_EQ(kvnGetLastTimings(nullptr, nullptr, 0, &count), 1u);
    EXPECT_EQ(kvnGetLastTimings(handle, nullptr, 0, nullptr), 2u);

    ASSERT_EQ(kvnGetLastTimings(handle, nullptr, 0, &count), 0u);
    EXPECT_EQ(count, 5u) << "a null buffer still counts";
    EXPECT_TRUE(state(handle).decoder.pending_timings.empty());

    const std::vector<std::string> all = {kLabels[0], kLabels[1], kLabels[0], kLabels[1], kLabels[2]};
    for (uint64_t cap : {0, 1, 2, 3, 5, 8}) {
        TimingEntry buf[8] = {};
        count = 0;
        ASSERT_EQ(kvnGetLastTimings(handle, buf, cap, &count), 0u);
        EXPECT_EQ(count, 5u);
        for (uint64_t i = 0; i < 8; ++i) {
            if (i < std::min<uint64_t>(cap, 5)) {
                EXPECT_EQ(buf[i].label, all[i]) << "cap " << cap << " entry " << i;
            } else {
                EXPECT_EQ(buf[i].label, nullptr) << "cap " << cap << " entry " << i;
            }
        }
    }
}

TEST_F(TimingsOfALastCall, WaitAndGetSynchronisesTheStreamFirst) {
    uint64_t count = 0;
    ASSERT_EQ(kvnWaitAndGetLastTimings(handle, 0, nullptr, 0, &count), 0u);
    EXPECT_TRUE(fakeDevice().synced_streams.empty()) << "stream 0 is not synchronised";
    EXPECT_EQ(count, 5u);
    ASSERT_EQ(kvnWaitAndGetLastTimings(handle, 6, nullptr, 0, &count), 0u);
    EXPECT_EQ(fakeDevice().synced_streams, std::vector<uint64_t>{6});

    fakeDevice().stream_sync_result = Error::BadRequest;
    count = 0;
    EXPECT_EQ(kvnWaitAndGetLastTimings(handle, 6, nullptr, 0, &count), 6u);
    EXPECT_EQ(count, 0u);
    fakeDevice().has_stream_sync = false;
    EXPECT_EQ(kvnWaitAndGetLastTimings(handle, 6, nullptr, 0, &count), 6u);
    // The stream comes first, then the handle and count checks.
    EXPECT_EQ(kvnWaitAndGetLastTimings(nullptr, 6, nullptr, 0, &count), 6u);
    EXPECT_EQ(kvnWaitAndGetLastTimings(nullptr, 0, nullptr, 0, &count), 1u);
    EXPECT_EQ(kvnWaitAndGetLastTimings(handle, 0, nullptr, 0, nullptr), 2u);
}

TEST_F(TimingsOfALastCall, ClearingLeavesNoEntriesAndNoPendingEvents) {
    clearLastTimings(state(handle));
    uint64_t count = 9;
    ASSERT_EQ(kvnGetLastTimings(handle, nullptr, 0, &count), 0u);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(fakeDevice().destroyed_events.size(), 10u);
}

// An asynchronous compress and decompress of one handle run at once: each
// job's start empties the lists of the other side only while no job of that
// side runs, so a running job's lists change under no hand but its own.
TEST_F(TimingsTest, AJobStartLeavesTheOtherSidesRunningJobAlone) {
    KvnHandle& h = state(makeHandle());
    std::atomic<bool> stop{false};
    std::atomic<int> compress_starts{0};
    std::thread compressing([&] {
        while (!stop.load()) {
            const TimedJob job(h, JobSide::Encoder);
            h.encoder.timings.push(TimingEntry{"kvnFrameAssembleKernel", 1.0f, 0});
            ++compress_starts;
        }
    });
    int lost = 0;
    for (int iteration = 0; iteration < 50; ++iteration) {
        const TimedJob job(h, JobSide::Decoder);
        // Enough entries to grow each list past its first page, with a
        // compress starting in the middle.
        for (uint64_t i = 0; i < 300; ++i) {
            if (i == 150) {
                const int seen = compress_starts.load();
                while (compress_starts.load() < seen + 2) std::this_thread::yield();
            }
            h.decoder.pending_timings.push(PendingTiming{kLabels[0], 0, 0});
            h.decoder.timings.push(TimingEntry{kLabels[1], 2.0f, 0});
            if (h.decoder.pending_timings.size() != i + 1 || h.decoder.timings.size() != i + 1) ++lost;
        }
        h.decoder.pending_timings.clear();
    }
    stop.store(true);
    compressing.join();
    EXPECT_EQ(lost, 0) << "the compress side emptied a running decode's lists";
}

TEST_F(TimingsTest, VerdictOfTheLastDecode) {
    void* h = makeHandle();
    EXPECT_EQ(kvnGetLastVerdict(nullptr), 1u);
    EXPECT_EQ(kvnGetLastVerdict(h), 5u) << "before any decode";
    int32_t* cell = ensureVerdictCell(state(h).decoder);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(ensureVerdictCell(state(h).decoder), cell);
    const std::pair<int32_t, KvnStatus> answers[] = {{0, 5}, {1, 0}, {2, 4}, {3, 5}, {-1, 5}};
    for (auto [verdict, status] : answers) {
        *cell = verdict;
        EXPECT_EQ(kvnGetLastVerdict(h), status) << verdict;
    }
}

TEST_F(TimingsTest, PipelineRetries) {
    void* h = makeHandle();
    EXPECT_EQ(kvnGetPipelineRetries(nullptr), 0u);
    EXPECT_EQ(kvnGetPipelineRetries(h), 0u);
    state(h).decoder.pipeline_retries = 3;
    EXPECT_EQ(kvnGetPipelineRetries(h), 3u);
}

}  // namespace
}  // namespace kvn::test
