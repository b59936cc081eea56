// What each walk status means to the caller of the device-input road:
// damaged framing is a corrupt frame (status 4), a shape the walks do not
// take (or a walk cut short by its step budget) asks for the host road, and
// no status but 0 passes.
#include <gtest/gtest.h>

#include "core/errors.h"
#include "kernels/format_constants.h"
#include "pipeline/decode/device_walk.h"

namespace kvn::test {
namespace {

struct StatusCase {
    uint32_t status;
    Error error;
    int32_t job_result;
    bool fallback;
};

const StatusCase kStatuses[] = {
    {KVN_WALK_OK, Error::None, 0, false},
    {KVN_WALK_BAD_MAGIC, Error::BadFrame, -4, false},
    {KVN_WALK_BAD_VERSION, Error::BadFrame, -4, false},
    {KVN_WALK_BAD_CODEC, Error::BadFrame, -4, false},
    {KVN_WALK_BAD_HEADER_FIELD, Error::BadFrame, -4, false},
    {KVN_WALK_UNSUPPORTED, Error::BadMode, -6, true},
    {KVN_WALK_RAW_SIZE_MISSING, Error::BadFrame, -4, false},
    {KVN_WALK_BAD_CHUNK_HEADER, Error::BadFrame, -4, false},
    {KVN_WALK_BAD_CHUNK_VERSION, Error::BadFrame, -4, false},
    {KVN_WALK_SIZE_HEADER_SHORT, Error::BadFrame, -4, false},
    {KVN_WALK_BAD_CHUNK_MODE, Error::BadFrame, -4, false},
    {KVN_WALK_TOO_MANY_CHUNKS, Error::BadMode, -6, true},
    {KVN_WALK_TRUNCATED, Error::BadFrame, -4, false},
    {KVN_WALK_SECOND_BLOCK, Error::BadMode, -6, true},
    {KVN_WALK_TABLE_MISMATCH, Error::BadFrame, -4, false},
    {KVN_WALK_TOO_LARGE, Error::OutputTooSmall, -3, false},
    {16, Error::BadFrame, -4, false},
    {0xFFFFFFFFu, Error::BadFrame, -4, false},
};

TEST(DeviceWalk, EveryStatusHasItsOutcome) {
    for (const StatusCase& c : kStatuses) {
        SCOPED_TRACE(c.status);
        const Error error = walkStatusError(c.status);
        EXPECT_EQ(error, c.error);
        if (error == Error::None) continue;
        uint8_t fallback = 0;
        EXPECT_EQ(deviceStatusFromError(error, &fallback), c.job_result);
        EXPECT_EQ(fallback != 0, c.fallback);
    }
}

}  // namespace
}  // namespace kvn::test
