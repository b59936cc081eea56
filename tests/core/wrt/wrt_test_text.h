// Texts for the WRT tests: real text from this machine and small builders.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/wrt/word_selection.h"
#include "core/wrt/wrt_format.h"

namespace kvn::test {

using Bytes = std::vector<uint8_t>;

// About 4 MiB of real text, read once per process: English and German man
// pages (decompressed) followed by C headers from /usr/include.
const Bytes& realText();

Bytes bytesOf(std::string_view text);

// `count` distinct lower-case words of three letters and up ("aaa", "aab", ...),
// in ascending byte order.
std::vector<std::string> generatedWords(size_t count);

// 4136 words in code order for token tests: "the" is word 5, "iphone" word 2,
// "two" word 40 (the first two-byte code) and "last" word 4135 (the last one).
std::vector<std::string> codeWords();

// A dictionary whose code order is `words` (the first `one_byte_count` have
// one-byte codes), as selection would leave it.
WrtDictionary dictionaryOf(const std::vector<std::string>& words, uint32_t one_byte_count);

// A serialised section over `words` and `segments`.
WrtSectionBlob sectionOf(uint64_t decoded_size, const std::vector<std::string>& words, uint32_t one_byte_count,
                         const std::vector<WrtSegment>& segments);

}  // namespace kvn::test
