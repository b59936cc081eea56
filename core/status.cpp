// Status texts, the version string and the option defaults: the exported
// calls that need neither a handle nor a device.
#include <cstring>

#include "korvane.h"

extern "C" {

KVN_API const char* kvnStatusString(uint32_t status) {
    static const char* const kTexts[] = {
        "success",
        "invalid handle",
        "invalid argument",
        "output or temp buffer too small",
        "corrupt or unrecognized frame",
        "unsupported level or option",
        "underlying CUDA call failed",
        "out of memory",
        "device lost",
        "required Vulkan feature missing",
    };
    return status < sizeof(kTexts) / sizeof(kTexts[0]) ? kTexts[status] : "unknown status";
}

KVN_API const char* kvnVersionString(void) { return "3.3.0"; }

KVN_API CompressOpts* kvnCompressDefaultOpts(CompressOpts* p) {
    std::memset(p, 0, sizeof(CompressOpts));
    return p;
}

KVN_API DecompressOpts* kvnDecompressDefaultOpts(DecompressOpts* p) {
    std::memset(p, 0, sizeof(DecompressOpts));
    return p;
}

}  // extern "C"
