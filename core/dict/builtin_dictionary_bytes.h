// The bytes of the built-in dictionaries. Their sizes are fixed here; the
// build generates the definitions (tools/dictgen), which must match them.
#pragma once

#include <cstdint>

namespace kvn {

extern const uint8_t builtin_json_bytes[32768];
extern const uint8_t builtin_html_bytes[32768];
extern const uint8_t builtin_text_bytes[33092];
extern const uint8_t builtin_xml_bytes[32768];
extern const uint8_t builtin_css_bytes[32768];
extern const uint8_t builtin_js_bytes[32768];
extern const uint8_t builtin_general_bytes[32768];
extern const uint8_t builtin_github_users_bytes[2048];

}  // namespace kvn
