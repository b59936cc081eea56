// The internal error set. Every internal operation returns its value or one
// of these names; the exported interface maps them to statuses.
#pragma once

#include <cstdint>

namespace kvn {

#define KVN_ERROR_LIST(X)                                                                      \
    X(OutOfMemory) X(OutOfDeviceMemory) X(Unexpected) X(ThreadQuotaExceeded)                   \
    X(SystemResources) X(LockedMemoryLimitExceeded) X(BadFrame) X(Truncated) X(SizeMismatch)   \
    X(InvalidBlockHeader) X(InvalidInternalHeader) X(BadChunkHeader) X(BlockDataTruncated)     \
    X(OutputTooSmall) X(ChecksumMismatch) X(ChunkSizeMismatch) X(UnknownDictionary)            \
    X(ContentSizeTooLarge) X(BackendNotAvailable) X(KernelLaunchFailed) X(SyncFailed)          \
    X(CopyFailed) X(KernelMissing) X(BadMode) X(NotImplementedL2) X(NotYetPorted) X(BadMagic)  \
    X(UnsupportedVersion) X(BadCodec) X(BadBlockSize) X(BadScGroupSize) X(BadContentSize)      \
    X(CorruptSection) X(Corrupt) X(BadLevel) X(DestinationTooSmall) X(GpuPipelineFailed)       \
    X(DictFull) X(ShardOverflow) X(AllocatorCreateFailed) X(BufferTooSmall) X(TooShort)        \
    X(BadDecoderType) X(BadChunkType)                                                          \
    X(DictionaryCollision) X(BadRequest) X(DeviceLost) X(DeviceCallFailed)

// The device layer's causes: BadRequest is a bad, dead or unsupported
// request; DeviceLost a device that is gone or a wait on it that gave up;
// DeviceCallFailed any other failed device call.
enum class Error : uint16_t {
    None = 0,
#define KVN_ERROR_ENUM(name) name,
    KVN_ERROR_LIST(KVN_ERROR_ENUM)
#undef KVN_ERROR_ENUM
};

// Returns a step's error from the enclosing function (which returns Error)
// when the step failed.
#define KVN_TRY(step)                                                                     \
    do {                                                                                  \
        if (const ::kvn::Error kvn_step_error = (step); kvn_step_error != ::kvn::Error::None) \
            return kvn_step_error;                                                        \
    } while (0)

// The name as written in diagnostics ("OutOfMemory"); "None" for success.
const char* errorName(Error error);


// Host-decode map: used by the host frame loop.
int32_t statusFromError(Error error);
// Device-decode map: sets *fallback for the errors that ask for the host road.
int32_t deviceStatusFromError(Error error, uint8_t* fallback);
// Compress map.
int32_t compressStatusFromError(Error error);

}  // namespace kvn
