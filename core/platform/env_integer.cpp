#include "core/platform/platform.h"

namespace kvn {

std::optional<uint64_t> parseEnvInteger(std::string_view text, uint64_t max_value) {
    if (text.empty()) return std::nullopt;
    if (text.front() == '-') {
        // "-0", "-000": zero written with a sign. Nothing else negative is a number here.
        std::string_view rest = text.substr(1);
        if (rest.empty()) return std::nullopt;
        for (char c : rest)
            if (c != '0') return std::nullopt;
        return 0;
    }
    if (text.front() == '+') text.remove_prefix(1);
    if (text.empty() || text.front() == '_' || text.back() == '_') return std::nullopt;

    uint64_t value = 0;
    char previous = 0;
    for (char c : text) {
        if (c == '_') {
            if (previous == '_') return std::nullopt;
        } else if (c >= '0' && c <= '9') {
            uint64_t digit = uint64_t(c - '0');
            if (digit > max_value || value > (max_value - digit) / 10) return std::nullopt;
            value = value * 10 + digit;
        } else {
            return std::nullopt;
        }
        previous = c;
    }
    return value;
}

std::optional<uint64_t> parseDecimal(std::string_view text, uint64_t max_value) {
    if (text.empty()) return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        const uint64_t digit = uint64_t(c - '0');
        if (value > (max_value - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::optional<uint64_t> envInteger(const char* name, uint64_t max_value) {
    const char* text = envText(name);
    if (!text) return std::nullopt;
    return parseEnvInteger(text, max_value);
}

}  // namespace kvn
