#include <gtest/gtest.h>
#include <xxhash.h>

#include <string_view>
#include <vector>

#include "core/dict/builtin_dictionary.h"
#include "core/integrity/xxh32.h"

namespace kvn {
namespace {

std::string_view nameOf(const BuiltinDictionary& d) { return {d.name, d.name_length}; }
std::string_view bytesOf(const BuiltinDictionary& d) { return {reinterpret_cast<const char*>(d.data), d.data_length}; }

TEST(BuiltinDictionaries, TableOfIdsNamesSizesAndExtensions) {
    const struct {
        uint32_t id;
        std::string_view name;
        uint64_t size;
        std::vector<std::string_view> extensions;
    } rows[] = {
        {1, "json", 32768, {".json", ".geojson", ".jsonl", ".ndjson"}},
        {2, "html", 32768, {".html", ".htm", ".xhtml", ".svg"}},
        {3, "text", 33092, {".txt", ".md", ".rst", ".log"}},
        {4, "xml", 32768, {".xml", ".rss", ".atom", ".opml", ".pom", ".xsl"}},
        {5, "css", 32768, {".css"}},
        {6, "js", 32768, {".js", ".mjs", ".cjs", ".ts"}},
        {7, "general", 32768, {}},
        {8, "github-users", 2048, {}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const BuiltinDictionary* d = builtinDictionary(row.id);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d, builtin_dictionaries[row.id - 1]);
        EXPECT_EQ(d->id, row.id);
        EXPECT_EQ(nameOf(*d), row.name);
        EXPECT_NE(d->data, nullptr);
        EXPECT_EQ(d->data_length, row.size);
        ASSERT_EQ(d->extension_count, row.extensions.size());
        for (uint64_t i = 0; i < d->extension_count; ++i)
            EXPECT_EQ(std::string_view(d->extensions[i].text, d->extensions[i].length), row.extensions[i]);
    }
}

TEST(BuiltinDictionaries, OnlyIdsOneToEight) {
    for (uint32_t id : {0u, 9u, 0x10000001u, UINT32_MAX}) EXPECT_EQ(builtinDictionary(id), nullptr) << id;
}

// Frames name a built-in by id only, so its bytes may never change once
// frames exist: these hashes pin them.
TEST(BuiltinDictionaries, BytesArePinned) {
    const uint32_t pinned[kBuiltinDictionaryCount] = {
        0xfbff17bd, 0x82d7a544, 0x9501da12, 0x2ae8bad9, 0xf3d9b894, 0x256c2e92, 0xbc0c167e, 0x34c2b413,
    };
    for (uint32_t id = 1; id <= kBuiltinDictionaryCount; ++id) {
        const BuiltinDictionary& d = *builtinDictionary(id);
        SCOPED_TRACE(nameOf(d));
        EXPECT_EQ(XXH32(d.data, d.data_length, 0), pinned[id - 1]);
        EXPECT_EQ(xxh32(d.data, d.data_length), pinned[id - 1]);
    }
}

// Each corpus is text of its kind: printable, and carrying the fragments that
// inputs of that kind repeat most.
TEST(BuiltinDictionaries, ContentIsTextOfItsKind) {
    const std::vector<std::string_view> fragments[kBuiltinDictionaryCount] = {
        {"{\"id\":", "\"name\": \"", "\"created_at\": \"", "null", "true", "],\n"},
        {"<!DOCTYPE html>", "<div class=\"", "<a href=\"", "</p>\n", "<li>", "</html>"},
        {" of the ", " and ", ". The ", "\n\n", "## ", " INFO "},
        {"<?xml version=\"1.0\" encoding=\"UTF-8\"?>", "<item>", "</title>\n", "<link>", "<entry>", "<dependency>"},
        {"display: flex;", "margin: 0 auto;", "@media (max-width: ", "color: #", " {\n  ", "}\n\n"},
        {"function ", "const ", " => ", "return ", "import ", "interface "},
        {" the ", "<div", "\"id\"", "function", "HTTP/1.1", "id,name,"},
        {"\"login\": \"", "\"avatar_url\": \"https://", "\"site_admin\": false", "\"type\": \"User\""},
    };
    for (uint32_t id = 1; id <= kBuiltinDictionaryCount; ++id) {
        const BuiltinDictionary& d = *builtinDictionary(id);
        SCOPED_TRACE(nameOf(d));
        std::string_view bytes = bytesOf(d);
        for (char c : bytes) ASSERT_TRUE((c >= ' ' && c <= '~') || c == '\n' || c == '\r' || c == '\t') << int(c);
        for (std::string_view fragment : fragments[id - 1])
            EXPECT_NE(bytes.find(fragment), std::string_view::npos) << fragment;
    }
}

// Matches into a dictionary are cheapest near its end, so each corpus ends
// with its kind's commonest fragments rather than with a cut-off sample.
TEST(BuiltinDictionaries, EndWithTheirCommonestFragments) {
    const std::string_view endings[kBuiltinDictionaryCount] = {
        "\"value\":\"\"}]\n", "</body>\n</html>\n",   "looked at him.\n\n", "</entry>\n",
        "  }\n}\n",           "  return this;\n};\n", "\t\treturn;\n\t}\n", "\"site_admin\":false}\n",
    };
    for (uint32_t id = 1; id <= kBuiltinDictionaryCount; ++id) {
        const BuiltinDictionary& d = *builtinDictionary(id);
        EXPECT_TRUE(bytesOf(d).ends_with(endings[id - 1])) << nameOf(d);
    }
}

}  // namespace
}  // namespace kvn
