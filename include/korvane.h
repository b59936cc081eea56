/* Korvane: lossless compression of byte buffers with the codec on the GPU.
 *
 * Two libraries export this interface: libkorvane_gpu_vk.so (Vulkan) and
 * libkorvane_gpu.so (CUDA). Both write and read the same frame format.
 * Calls return a KvnStatus; job results are sizes or negated statuses. */
#ifndef KORVANE_H
#define KORVANE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(__GNUC__)
#define KVN_API __attribute__((visibility("default")))
#else
#define KVN_API
#endif

typedef uint32_t KvnStatus;
enum {
    KVN_STATUS_SUCCESS = 0,
    KVN_STATUS_INVALID_HANDLE = 1,
    KVN_STATUS_INVALID_ARGUMENT = 2,
    KVN_STATUS_BUFFER_TOO_SMALL = 3,
    KVN_STATUS_CORRUPT_FRAME = 4,
    KVN_STATUS_UNSUPPORTED = 5,
    KVN_STATUS_DEVICE_CALL_FAILED = 6,
    KVN_STATUS_OUT_OF_MEMORY = 7,
    KVN_STATUS_DEVICE_LOST = 8,
    KVN_STATUS_FEATURE_MISSING = 9
};

/* Compress options: 64 bytes; all zero means every default. */
typedef struct CompressOpts {
    int32_t level;              /* 0 means 1; 1..5; 6 is level 5 with WRT (low 8 bits used) */
    int32_t record_timings;     /* non-zero: per-kernel GPU timings for this call */
    uint8_t reserved0[4];
    uint32_t dict_id;           /* 0: none; else a registered or built-in dictionary id */
    int32_t merkle_root;        /* non-zero: write the chunk Merkle root trailer */
    int32_t min_match_distance; /* negative counts as 0 */
    int32_t wrt;                /* non-zero: apply the word-replacement transform */
    int32_t chunk_table;        /* >= 0: write the chunk-size table where allowed; < 0: never */
    int32_t content_checksum;   /* non-zero: write the XXH32 content checksum trailer */
    float sc_group_size;        /* chunk size in units of 262144 bytes; 0 means 0.25 */
    int32_t byte_plane_stride;  /* 0 none, -1 automatic, or 2,3,4,6,8,12,16,24,28,32 */
    uint8_t reserved1[20];
} CompressOpts;

/* Decompress options: 32 bytes; all zero means every default. */
typedef struct DecompressOpts {
    int32_t record_timings;
    uint8_t reserved[28];
} DecompressOpts;

KVN_API const char* kvnStatusString(uint32_t status);
KVN_API const char* kvnVersionString(void);
KVN_API CompressOpts* kvnCompressDefaultOpts(CompressOpts* p);
KVN_API DecompressOpts* kvnDecompressDefaultOpts(DecompressOpts* p);

#ifdef __cplusplus
}
#endif

#endif /* KORVANE_H */
