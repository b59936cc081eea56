#include "kernels/tools/ptx_entry.h"

#include <cctype>

namespace kvn::tools {

std::optional<std::vector<std::string>> readPtxEntryParams(std::string_view ptx, std::string_view name) {
    const std::string head = ".entry " + std::string(name);
    size_t at = 0;
    while (true) {
        at = ptx.find(head, at);
        if (at == std::string_view::npos) return std::nullopt;
        size_t after = at + head.size();
        while (after < ptx.size() && std::isspace(static_cast<unsigned char>(ptx[after]))) ++after;
        if (after < ptx.size() && ptx[after] == '(') {
            at = after + 1;
            break;
        }
        at = after;
    }
    const size_t end = ptx.find(')', at);
    if (end == std::string_view::npos) return std::nullopt;

    // Each parameter reads ".param <qualifiers and type> <name>"; the type is
    // the last dotted word before the name (".ptr .align 8" may come between).
    std::vector<std::string> types;
    std::string_view list = ptx.substr(at, end - at);
    size_t p = 0;
    while ((p = list.find(".param", p)) != std::string_view::npos) {
        size_t stop = list.find(',', p);
        std::string_view one = list.substr(p + 6, stop == std::string_view::npos ? list.size() - p - 6 : stop - p - 6);
        std::string type;
        size_t q = 0;
        while (q < one.size()) {
            while (q < one.size() && std::isspace(static_cast<unsigned char>(one[q]))) ++q;
            size_t word_end = q;
            while (word_end < one.size() && !std::isspace(static_cast<unsigned char>(one[word_end]))) ++word_end;
            std::string_view word = one.substr(q, word_end - q);
            if (word.size() > 1 && word[0] == '.' && (word[1] == 'u' || word[1] == 's' || word[1] == 'b' || word[1] == 'f'))
                type = word;
            q = word_end;
        }
        types.push_back(type);
        p = stop == std::string_view::npos ? list.size() : stop;
    }
    return types;
}

}  // namespace kvn::tools
