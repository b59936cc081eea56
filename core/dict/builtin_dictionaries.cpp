#include "core/dict/builtin_dictionary.h"

#include <string_view>

#include "core/dict/builtin_dictionary_bytes.h"

namespace kvn {
namespace {

constexpr DictionaryExtension ext(std::string_view text) { return {text.data(), text.size()}; }

constexpr DictionaryExtension json_extensions[] = {ext(".json"), ext(".geojson"), ext(".jsonl"), ext(".ndjson")};
constexpr DictionaryExtension html_extensions[] = {ext(".html"), ext(".htm"), ext(".xhtml"), ext(".svg")};
constexpr DictionaryExtension text_extensions[] = {ext(".txt"), ext(".md"), ext(".rst"), ext(".log")};
constexpr DictionaryExtension xml_extensions[] = {ext(".xml"),  ext(".rss"), ext(".atom"),
                                                  ext(".opml"), ext(".pom"), ext(".xsl")};
constexpr DictionaryExtension css_extensions[] = {ext(".css")};
constexpr DictionaryExtension js_extensions[] = {ext(".js"), ext(".mjs"), ext(".cjs"), ext(".ts")};

template <uint64_t data_size, uint64_t extension_count>
constexpr BuiltinDictionary builtin(uint32_t id, std::string_view name, const uint8_t (&data)[data_size],
                                    const DictionaryExtension (&extensions)[extension_count]) {
    return {name.data(), name.size(), data, data_size, extensions, extension_count, id};
}

template <uint64_t data_size>
constexpr BuiltinDictionary builtin(uint32_t id, std::string_view name, const uint8_t (&data)[data_size]) {
    return {name.data(), name.size(), data, data_size, nullptr, 0, id};
}

constexpr BuiltinDictionary json = builtin(1, "json", builtin_json_bytes, json_extensions);
constexpr BuiltinDictionary html = builtin(2, "html", builtin_html_bytes, html_extensions);
constexpr BuiltinDictionary text = builtin(3, "text", builtin_text_bytes, text_extensions);
constexpr BuiltinDictionary xml = builtin(4, "xml", builtin_xml_bytes, xml_extensions);
constexpr BuiltinDictionary css = builtin(5, "css", builtin_css_bytes, css_extensions);
constexpr BuiltinDictionary js = builtin(6, "js", builtin_js_bytes, js_extensions);
constexpr BuiltinDictionary general = builtin(7, "general", builtin_general_bytes);
constexpr BuiltinDictionary github_users = builtin(8, "github-users", builtin_github_users_bytes);

}  // namespace

const BuiltinDictionary* const builtin_dictionaries[kBuiltinDictionaryCount] = {
    &json, &html, &text, &xml, &css, &js, &general, &github_users,
};

const BuiltinDictionary* builtinDictionary(uint32_t id) {
    return id >= 1 && id <= kBuiltinDictionaryCount ? builtin_dictionaries[id - 1] : nullptr;
}

}  // namespace kvn
