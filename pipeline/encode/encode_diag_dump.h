// KVN_DIAG_DUMP on the encode side: the LZ-encode diagnostics buffer as a
// text file, rewritten after every LZ launch of a frame.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "core/errors.h"
#include "core/handle/encoder_state.h"

namespace kvn {

// The diagnostics buffer every LZ-encode launch binds: a u32 record count,
// then room for 4096 records of eight u32 words.
inline constexpr uint64_t kEncodeDiagBytes = 0x20004;

// "records=r (emitted c)" and one line per record, r = min(c, 4095); records
// that no longer fit in 1 MiB of text are dropped. `diag` holds
// kEncodeDiagBytes bytes.
std::string formatEncodeDiagRecords(std::span<const uint8_t> diag);

// Copies the buffer back, writes its text to `path` and prints the
// "[ediag] wrote" line. A failed copy or write skips the dump; only host
// buffers that cannot be had fail the frame (GpuPipelineFailed).
Error writeEncodeDiagDump(EncoderState& encoder, const char* path);

}  // namespace kvn
