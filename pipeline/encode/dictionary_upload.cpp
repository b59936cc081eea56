#include "pipeline/encode/dictionary_upload.h"

#include "core/dict/dictionary_lookup.h"
#include "core/encode/dictionary_table.h"
#include "pipeline/device/device_ops.h"
#include "pipeline/encode/encoder_buffers.h"

namespace kvn {

Error prepareDeviceDictionary(EncoderState& encoder, uint32_t dict_id, uint32_t bits) {
    DictionaryBytes dict{};
    if (findDictionaryById(encoder.dictionaries, dict_id, &dict) != Error::None) return Error::GpuPipelineFailed;
    if (encoder.dict_cache_id == dict_id && encoder.dict_cache_len == dict.length && encoder.dict_cache_bits == bits) {
        encoder.dict_table_ready = true;
        return Error::None;
    }
    encoder.dict_cache_id = 0;
    const GpuOpsTable& ops = gpuOps();
    if (!ops.memcpyHtoD) return Error::GpuPipelineFailed;
    const std::vector<uint32_t> table = buildDictionaryTable(dict.data, dict.length, bits);
    if (table.empty()) return Error::GpuPipelineFailed;
    DeviceBuffer& bytes = encoderBuffer(encoder, kDictBytes);
    DeviceBuffer& positions = encoderBuffer(encoder, kDictTable);
    const uint64_t table_bytes = table.size() * sizeof(uint32_t);
    KVN_TRY(ensureEncodeDeviceBuffers({{&bytes, dict.length}, {&positions, table_bytes}}));
    KVN_TRY(ops.memcpyHtoD(bytes.handle, dict.data, dict.length));
    KVN_TRY(ops.memcpyHtoD(positions.handle, table.data(), table_bytes));
    encoder.dict_cache_id = dict_id;
    encoder.dict_cache_len = dict.length;
    encoder.dict_cache_bits = bits;
    encoder.dict_table_ready = true;
    return Error::None;
}

}  // namespace kvn
