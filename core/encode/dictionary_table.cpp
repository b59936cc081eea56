#include "core/encode/dictionary_table.h"

#include <new>

#include "core/format/byte_order.h"

namespace kvn {

uint32_t lzHash(uint64_t eight_bytes, uint32_t bits) {
    return static_cast<uint32_t>((eight_bytes * 0x79B97F4A7C150000ull) >> (64 - bits));
}

std::vector<uint32_t> buildDictionaryTable(const uint8_t* data, uint64_t length, uint32_t bits) {
    std::vector<uint32_t> table;
    try {
        table.assign(size_t{1} << bits, kEmptyTableEntry);
    } catch (const std::bad_alloc&) {
        return {};
    }
    for (uint64_t i = 0; i + 8 <= length; ++i) table[lzHash(loadLe64(data + i), bits)] = static_cast<uint32_t>(i);
    return table;
}

}  // namespace kvn
