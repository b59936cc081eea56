#include "core/errors.h"

namespace kvn {

const char* errorName(Error error) {
    switch (error) {
        case Error::None: return "None";
#define KVN_ERROR_NAME(name) \
    case Error::name: return #name;
        KVN_ERROR_LIST(KVN_ERROR_NAME)
#undef KVN_ERROR_NAME
    }
    return "Unknown";
}

namespace {

// The column shared by both decode maps; the device map only adds fallback.
int32_t decodeStatus(Error error) {
    switch (error) {
        case Error::OutOfMemory:
        case Error::OutOfDeviceMemory: return -7;
        case Error::BadFrame:
        case Error::Truncated:
        case Error::SizeMismatch:
        case Error::InvalidBlockHeader:
        case Error::InvalidInternalHeader:
        case Error::BadChunkHeader:
        case Error::BlockDataTruncated:
        case Error::ChecksumMismatch:
        case Error::ChunkSizeMismatch:
        case Error::UnknownDictionary:
        case Error::ContentSizeTooLarge: return -4;
        case Error::OutputTooSmall: return -3;
        default: return -6;
    }
}

}  // namespace

int32_t statusFromError(Error error) {
    switch (error) {
        case Error::BadMode:
        case Error::NotImplementedL2: return -5;
        default: return decodeStatus(error);
    }
}

int32_t deviceStatusFromError(Error error, uint8_t* fallback) {
    switch (error) {
        case Error::BackendNotAvailable:
        case Error::KernelMissing:
        case Error::BadMode:
        case Error::NotImplementedL2:
        case Error::NotYetPorted:
            if (fallback) *fallback = 1;
            return -6;
        default: return decodeStatus(error);
    }
}

int32_t compressStatusFromError(Error error) {
    switch (error) {
        case Error::OutOfMemory:
        case Error::OutOfDeviceMemory: return -7;
        case Error::UnknownDictionary:
        case Error::BadBlockSize:
        case Error::BadScGroupSize:
        case Error::BadLevel:
        // An input too large for a 32-bit result, and options the encoder
        // does not offer, are the caller's to change: not a device failure.
        case Error::ContentSizeTooLarge:
        case Error::BadMode: return -5;
        case Error::DestinationTooSmall: return -3;
        default: return -6;
    }
}

}  // namespace kvn
