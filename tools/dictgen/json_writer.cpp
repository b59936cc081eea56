#include "json_writer.h"

namespace dictgen {

void JsonWriter::newline() {
    if (!indent_) return;
    out_ << '\n';
    for (size_t i = 0; i < has_items_.size() * indent_; ++i) out_ << ' ';
}

void JsonWriter::beforeValue() {
    if (after_key_) {
        after_key_ = false;
        return;
    }
    if (has_items_.empty()) return;
    if (has_items_.back()) out_ << ',';
    has_items_.back() = true;
    newline();
}

JsonWriter& JsonWriter::open(char bracket) {
    beforeValue();
    out_ << bracket;
    has_items_.push_back(false);
    return *this;
}

JsonWriter& JsonWriter::close(char bracket) {
    bool had_items = has_items_.back();
    has_items_.pop_back();
    if (had_items) newline();
    out_ << bracket;
    return *this;
}

JsonWriter& JsonWriter::key(std::string_view name) {
    beforeValue();
    out_ << '"' << name << (indent_ ? "\": " : "\":");
    after_key_ = true;
    return *this;
}

Corpus& JsonWriter::openString() {
    beforeValue();
    return out_ << '"';
}

JsonWriter& JsonWriter::string(std::string_view text) {
    openString() << text;
    closeString();
    return *this;
}

JsonWriter& JsonWriter::stringFrom(SampleWriter write) {
    write(openString());
    closeString();
    return *this;
}

JsonWriter& JsonWriter::number(uint64_t value) {
    beforeValue();
    out_ << value;
    return *this;
}

JsonWriter& JsonWriter::decimal(uint64_t value, unsigned decimals) {
    beforeValue();
    out_.fixed(value, decimals);
    return *this;
}

JsonWriter& JsonWriter::literal(std::string_view text) {
    beforeValue();
    out_ << text;
    return *this;
}

}  // namespace dictgen
