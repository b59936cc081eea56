// Common family: registering a caller's dictionary with a handle.
#include "core/dict/dictionary_registration.h"
#include "core/interface/interface_support.h"

using namespace kvn;

extern "C" {

KVN_API KvnStatus kvnSetDictionary(void* handle, const uint8_t* dict, uint64_t size, uint32_t* out_id) {
    if (!handle) return KVN_STATUS_INVALID_HANDLE;
    if (!dict || size == 0) return KVN_STATUS_INVALID_ARGUMENT;
    KvnHandle& h = *asHandle(handle);
    uint32_t id = 0;
    switch (registerDictionary(h.encoder.dictionaries, h.decoder.dictionaries, dict, size, &id)) {
        case Error::None:
            if (out_id) *out_id = id;
            return KVN_STATUS_SUCCESS;
        // Other bytes own this id; handing it out would decode with the wrong bytes.
        case Error::DictionaryCollision: return KVN_STATUS_UNSUPPORTED;
        default: return KVN_STATUS_OUT_OF_MEMORY;
    }
}

}  // extern "C"
