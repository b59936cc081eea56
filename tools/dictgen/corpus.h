// Building blocks of the built-in dictionary generator: a deterministic random
// source and an append-only text buffer. The generator must give the same bytes
// on every machine, so it uses its own generator and integer formatting only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace dictgen {

class Corpus {
public:
    explicit Corpus(uint64_t seed) : state_(seed) {}

    uint64_t next();  // splitmix64
    uint64_t below(uint64_t n) { return next() % n; }
    uint64_t between(uint64_t low, uint64_t high) { return low + below(high - low + 1); }
    bool chance(unsigned percent) { return below(100) < percent; }

    template <size_t n>
    std::string_view pick(const std::string_view (&list)[n]) {
        return list[below(n)];
    }
    std::string_view pick(std::initializer_list<std::string_view> list) { return list.begin()[below(list.size())]; }
    uint64_t pickNumber(std::initializer_list<uint64_t> list) { return list.begin()[below(list.size())]; }

    Corpus& operator<<(std::string_view text) {
        text_ += text;
        return *this;
    }
    Corpus& operator<<(char c) {
        text_ += c;
        return *this;
    }
    Corpus& operator<<(uint64_t value);

    // value / 10^decimals with exactly `decimals` digits after the point.
    Corpus& fixed(uint64_t value, unsigned decimals);
    Corpus& hex(uint64_t digits);  // random lowercase hex digits
    Corpus& isoTimestamp();        // 2023-04-12T08:15:30Z
    Corpus& httpDate();            // Wed, 12 Apr 2023 08:15:30 GMT

    const std::string& text() const { return text_; }
    size_t size() const { return text_.size(); }

private:
    uint64_t state_;
    std::string text_;
};

// A sample writer appends one self-contained piece of its kind.
using SampleWriter = void (*)(Corpus&);

// Samples from `seed` until the body outgrows `size`, then the core; keeps the
// last `size` bytes. The end of a dictionary lies nearest the input, where
// matches are cheapest, so each kind puts its commonest fragments in its core.
std::string buildCorpus(uint64_t seed, size_t size, SampleWriter sample, std::string_view core);

}  // namespace dictgen
