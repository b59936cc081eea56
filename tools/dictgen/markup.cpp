// Indentation of generated HTML and XML, which real documents mostly carry.
#include "corpora.h"

namespace dictgen {

namespace {

bool opensBlock(std::string_view line) {
    if (line.size() < 2 || line[0] != '<' || line[1] == '/' || line[1] == '?' || line[1] == '!') return false;
    if (line.ends_with("/>") || line.find("</") != std::string_view::npos) return false;
    static constexpr std::string_view void_tags[] = {"<meta", "<link", "<img", "<input", "<br", "<hr"};
    for (std::string_view tag : void_tags)
        if (line.starts_with(tag)) return false;
    return true;
}

}  // namespace

void writeIndented(Corpus& c, SampleWriter sample) {
    Corpus markup(c.next());
    sample(markup);
    std::string_view unit = c.pick({"", "  ", "  ", "    ", "\t"});
    std::string_view text = markup.text();
    size_t depth = 0;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end == std::string_view::npos ? text.size() : end + 1);
        text.remove_prefix(line.size());
        if (line.starts_with("</") && depth) --depth;
        if (line != "\n")
            for (size_t i = 0; i < depth; ++i) c << unit;
        c << line;
        if (opensBlock(line.substr(0, line.find_last_not_of('\n') + 1))) ++depth;
    }
}

}  // namespace dictgen
