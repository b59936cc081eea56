#include "wrt_test_text.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "core/wrt/word_table.h"

namespace kvn::test {
namespace {

void appendCommandOutput(const char* command, size_t limit, Bytes* out) {
    FILE* pipe = popen(command, "r");
    if (!pipe) return;
    uint8_t buffer[65536];
    size_t got;
    while (out->size() < limit && (got = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        out->insert(out->end(), buffer, buffer + std::min(got, limit - out->size()));
    pclose(pipe);
}

void appendHeaders(size_t limit, Bytes* out) {
    std::vector<std::filesystem::path> headers;
    std::error_code ec;
    for (auto it = std::filesystem::recursive_directory_iterator("/usr/include", ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec)) {
        if (it->is_regular_file(ec) && it->path().extension() == ".h") headers.push_back(it->path());
    }
    std::sort(headers.begin(), headers.end());
    for (const auto& path : headers) {
        if (out->size() >= limit) break;
        std::ifstream file(path, std::ios::binary);
        Bytes bytes{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
        out->insert(out->end(), bytes.begin(), bytes.begin() + std::min(bytes.size(), limit - out->size()));
    }
}

}  // namespace

const Bytes& realText() {
    static const Bytes text = [] {
        Bytes t;
        const char* english =
            "find /usr/share/man/man1 /usr/share/man/man3 /usr/share/man/man7 -name '*.gz' 2>/dev/null"
            " | LC_ALL=C sort | xargs -r zcat -f 2>/dev/null";
        const char* german =
            "find /usr/share/man/de -name '*.gz' 2>/dev/null | LC_ALL=C sort | xargs -r zcat -f 2>/dev/null";
        appendCommandOutput(english, size_t{2} << 20, &t);
        appendCommandOutput(german, t.size() + (size_t{512} << 10), &t);
        appendHeaders(size_t{4} << 20, &t);
        return t;
    }();
    return text;
}

Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }

std::vector<std::string> generatedWords(size_t count) {
    std::vector<std::string> words;
    for (size_t i = 0; words.size() < count; ++i) {
        std::string w = "aaa";
        for (size_t v = i, j = 3; j-- > 0; v /= 26) w[j] = char('a' + v % 26);
        words.push_back(w);
    }
    return words;
}

std::vector<std::string> codeWords() {
    std::vector<std::string> words = {"abc", "def", "iphone", "and", "for", "the"};
    for (const std::string& w : generatedWords(kWrtMaxWords)) {
        if (words.size() == kWrtOneByteWords) words.push_back("two");
        if (words.size() == kWrtMaxWords - 1) break;
        words.push_back("zz" + w);
    }
    words.push_back("last");
    return words;
}

WrtDictionary dictionaryOf(const std::vector<std::string>& words, uint32_t one_byte_count) {
    WrtDictionary dictionary;
    EXPECT_EQ(wordTableInit(&dictionary.table), Error::None);
    dictionary.selection.indices.reset(new uint32_t[std::max<size_t>(words.size(), 1)]);
    for (size_t i = 0; i < words.size(); ++i) {
        uint32_t index = 0;
        EXPECT_EQ(wordTableInsert(&dictionary.table, reinterpret_cast<const uint8_t*>(words[i].data()),
                                  uint32_t(words[i].size()), &index),
                  Error::None);
        dictionary.table.records[index].count = uint32_t(i + 1);
        dictionary.selection.indices[i] = index;
    }
    dictionary.selection.word_count = uint32_t(words.size());
    dictionary.selection.one_byte_count = one_byte_count;
    return dictionary;
}

WrtSectionBlob sectionOf(uint64_t decoded_size, const std::vector<std::string>& words, uint32_t one_byte_count,
                         const std::vector<WrtSegment>& segments) {
    WrtSectionBlob blob;
    auto word_at = [&](uint32_t i) {
        return WrtWordBytes{reinterpret_cast<const uint8_t*>(words[i].data()), uint32_t(words[i].size())};
    };
    EXPECT_EQ(writeWrtSectionWords(decoded_size, uint32_t(words.size()), one_byte_count, word_at, segments.data(),
                                   uint32_t(segments.size()), &blob),
              Error::None);
    return blob;
}

}  // namespace kvn::test
