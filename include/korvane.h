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
    int32_t level;              /* 0 means 1; 1..5; 6 is level 5 with WRT; any other value is refused */
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

/* One per-kernel GPU timing of the last call. Labels are constant strings of
 * the library, valid for its lifetime; the caller never frees them. */
typedef struct TimingEntry {
    const char* label;
    float milliseconds;
    uint32_t reserved;
} TimingEntry;

/* ---- Common family: both libraries ------------------------------------------
 * Every call checks its arguments first, in a fixed order; the first failing
 * check decides the status: 1 for a null handle, 2 for a bad argument
 * (option pointers included). */

/* Brings the device up once per process (6 when it cannot) and makes a handle. */
KVN_API KvnStatus kvnCreate(void** out);
/* Frees everything the handle owns, after joining any asynchronous job. Null is accepted. */
KVN_API KvnStatus kvnDestroy(void* handle);
KVN_API KvnStatus kvnReleaseEncoderBuffers(void* handle);
KVN_API KvnStatus kvnReleaseDecoderBuffers(void* handle);

/* Host memory to host memory; the work runs on a joined worker thread. */
KVN_API KvnStatus kvnCompressHost(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                  uint64_t dst_cap, uint64_t* out_size, const CompressOpts* opts);
KVN_API KvnStatus kvnDecompressHost(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                    uint64_t dst_cap, uint64_t* out_size, const DecompressOpts* opts);
/* Device memory to device memory on the caller's thread; 129 <= src_len <= 2^30. */
KVN_API KvnStatus kvnCompressAsync(void* handle, uint64_t dev_src, uint64_t src_len, uint64_t dev_dst,
                                   uint64_t dst_cap, uint64_t* out_size, const CompressOpts* opts,
                                   uint64_t stream);
/* The decoded size is not returned: read it with kvnGetTotalDecompressedSize. */
KVN_API KvnStatus kvnDecompressAsync(void* handle, uint64_t dev_src, uint32_t src_len, uint64_t dev_dst,
                                     uint32_t dst_cap, const DecompressOpts* opts, uint64_t stream);

/* Worst-case compressed size of n bytes; the third argument is not read. */
KVN_API KvnStatus kvnCompressBound(void* handle, uint64_t n, uint64_t reserved, uint64_t* out);
/* The decoded size of the frame at `frame`, of which 64 bytes (or the
 * header's announced fields) must be readable. */
KVN_API KvnStatus kvnGetDecompressedSize(void* handle, const uint8_t* frame, uint64_t* out);
/* The summed decoded size of the concatenated frames in data. */
KVN_API KvnStatus kvnGetTotalDecompressedSize(void* handle, const uint8_t* data, uint64_t len, uint64_t* out);

KVN_API CompressOpts* kvnCompressDefaultOpts(CompressOpts* p);
KVN_API DecompressOpts* kvnDecompressDefaultOpts(DecompressOpts* p);

/* Registers a private copy of the bytes with the handle; *out_id (when not
 * null) receives its id. 5 when other bytes already hold the same id. */
KVN_API KvnStatus kvnSetDictionary(void* handle, const uint8_t* dict, uint64_t size, uint32_t* out_id);

/* Timings of the last call: encoder entries first, then decoder entries; at
 * most cap are copied when buf is not null; *out_count receives the total. */
KVN_API KvnStatus kvnGetLastTimings(void* handle, TimingEntry* buf, uint64_t cap, uint64_t* out_count);
/* As kvnGetLastTimings after synchronising `stream` when it is not 0. */
KVN_API KvnStatus kvnWaitAndGetLastTimings(void* handle, uint64_t stream, TimingEntry* buf, uint64_t cap,
                                           uint64_t* out_count);
/* 0 when the last decode's Merkle root matched, 4 when it did not, 5 when none was checked. */
KVN_API KvnStatus kvnGetLastVerdict(void* handle);
KVN_API uint32_t kvnGetPipelineRetries(void* handle);

KVN_API const char* kvnStatusString(uint32_t status);
KVN_API const char* kvnVersionString(void);

/* ---- CUDA library only: libkorvane_gpu.so ------------------------------------ */

/* *bytes (when not null): the device bytes the decoder's growable buffers hold,
 * its dictionary buffer included; *base (when not null): its scratch base, null
 * on a new handle. Allocates and synchronises nothing. */
KVN_API KvnStatus kvnDecoderHeldBytes(void* handle, uint64_t* bytes, void** base);

/* ---- Vulkan family: libkorvane_gpu_vk.so only ---------------------------------
 * Device pointers are buffer handles of the library (kvnVkDeviceAlloc), never
 * addresses. The calls returning int32_t return a job result: a byte count,
 * or minus a status; their own argument checks return positive statuses. */

/* As kvnCreate, but 9 when the device cannot be brought up; the handle also
 * carries asynchronous job slots and a table of 16 registered buffers. */
KVN_API KvnStatus kvnCreate_vk(void** out);
KVN_API void kvnDestroy_vk(void* handle);

/* src and dst are host pointers or keys registered with the handle. */
KVN_API int32_t kvnCompress_vk(void* handle, uint64_t src, uint64_t src_len, uint64_t dst, uint64_t dst_cap,
                               const CompressOpts* opts);
KVN_API int32_t kvnDecompress_vk(void* handle, uint64_t src, uint64_t src_len, uint64_t dst, uint64_t dst_cap,
                                 const DecompressOpts* opts);
KVN_API int32_t kvnCompressHost_vk(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                   uint64_t dst_cap, const CompressOpts* opts);
KVN_API int32_t kvnDecompressHost_vk(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                     uint64_t dst_cap, const DecompressOpts* opts);

/* One asynchronous job per direction per handle. The poll returns 0 when no
 * job is present, 5 while it runs and wait is 0, else the job result; poll
 * with wait set to tell sizes 0, 1 and 5 from those answers. */
KVN_API KvnStatus kvnCompressAsync_vk(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                      uint64_t dst_cap, uint64_t* out_size, const CompressOpts* opts);
KVN_API int32_t kvnCompressAsyncPoll_vk(void* handle, int32_t wait);
KVN_API KvnStatus kvnDecompressAsync_vk(void* handle, const uint8_t* src, uint64_t src_len, uint8_t* dst,
                                        uint64_t dst_cap, const DecompressOpts* opts);
KVN_API int32_t kvnDecompressAsyncPoll_vk(void* handle, int32_t wait);

KVN_API uint64_t kvnGetLastTimings_vk(void* handle, TimingEntry* buf, uint64_t cap);
KVN_API KvnStatus kvnGetLastVerdict_vk(void* handle);
KVN_API uint64_t kvnCompressBound_vk(uint64_t n);

/* Up to 16 buffers per handle; aux0 and aux1 are stored, not read. */
KVN_API KvnStatus kvnRegisterBuffer_vk(void* handle, uint64_t aux0, uint64_t key, uint64_t aux1);
KVN_API KvnStatus kvnUnregisterBuffer_vk(void* handle, uint64_t key);
/* A value from a process-wide window of 2^40 bytes at 2^62, naming `size` bytes. */
KVN_API KvnStatus kvnMakeDeviceOnlyHandle_vk(uint64_t* out, uint64_t size);
KVN_API const char* kvnGetVersionString_vk(void);

/* Device memory; the copies are synchronous and start at offset 0. */
KVN_API KvnStatus kvnVkDeviceAlloc(void* handle, uint64_t size, uint64_t* out);
KVN_API KvnStatus kvnVkDeviceFree(void* handle, uint64_t buf);
KVN_API KvnStatus kvnVkH2D(void* handle, uint64_t dst_buf, const void* src, uint64_t bytes);
KVN_API KvnStatus kvnVkD2H(void* handle, void* dst, uint64_t src_buf, uint64_t bytes);
/* Copies up to cap bytes of the chosen device's name, without a terminating zero. */
KVN_API uint64_t kvnVkBoundDeviceName(char* buf, uint64_t cap);

#ifdef __cplusplus
}
#endif

#endif /* KORVANE_H */
