// Writes JSON into a corpus, pretty-printed (with the given indent) or compact.
#pragma once

#include <string_view>
#include <vector>

#include "corpus.h"

namespace dictgen {

class JsonWriter {
public:
    // indent 0 writes compact JSON.
    JsonWriter(Corpus& out, unsigned indent) : out_(out), indent_(indent) {}

    JsonWriter& beginObject() { return open('{'); }
    JsonWriter& endObject() { return close('}'); }
    JsonWriter& beginArray() { return open('['); }
    JsonWriter& endArray() { return close(']'); }

    JsonWriter& key(std::string_view name);
    JsonWriter& string(std::string_view text);
    JsonWriter& number(uint64_t value);
    JsonWriter& decimal(uint64_t value, unsigned decimals);
    JsonWriter& literal(std::string_view text);  // true, false, null, -12.5

    // A string value whose text the writer produces.
    JsonWriter& stringFrom(SampleWriter write);

    // Starts a string value and leaves it open for the caller to fill.
    Corpus& openString();
    void closeString() { out_ << '"'; }

    Corpus& corpus() { return out_; }

private:
    JsonWriter& open(char bracket);
    JsonWriter& close(char bracket);
    void beforeValue();
    void newline();

    Corpus& out_;
    unsigned indent_;
    std::vector<bool> has_items_;  // one per open container
    bool after_key_ = false;
};

}  // namespace dictgen
