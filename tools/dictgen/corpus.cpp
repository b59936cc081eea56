#include "corpus.h"

namespace dictgen {

uint64_t Corpus::next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

Corpus& Corpus::operator<<(uint64_t value) {
    char digits[20];
    int n = 0;
    do {
        digits[n++] = char('0' + value % 10);
        value /= 10;
    } while (value);
    while (n) text_ += digits[--n];
    return *this;
}

Corpus& Corpus::fixed(uint64_t value, unsigned decimals) {
    uint64_t scale = 1;
    for (unsigned i = 0; i < decimals; ++i) scale *= 10;
    *this << value / scale;
    if (!decimals) return *this;
    text_ += '.';
    uint64_t fraction = value % scale;
    for (uint64_t digit = scale / 10; digit; digit /= 10) {
        text_ += char('0' + fraction / digit);
        fraction %= digit;
    }
    return *this;
}

Corpus& Corpus::hex(uint64_t digits) {
    for (uint64_t i = 0; i < digits; ++i) text_ += "0123456789abcdef"[below(16)];
    return *this;
}

namespace {

void twoDigits(Corpus& c, uint64_t value) {
    if (value < 10) c << '0';
    c << value;
}

}  // namespace

Corpus& Corpus::isoTimestamp() {
    *this << between(2019, 2024) << '-';
    twoDigits(*this, between(1, 12));
    *this << '-';
    twoDigits(*this, between(1, 28));
    *this << 'T';
    twoDigits(*this, below(24));
    *this << ':';
    twoDigits(*this, below(60));
    *this << ':';
    twoDigits(*this, below(60));
    return *this << 'Z';
}

Corpus& Corpus::httpDate() {
    static constexpr std::string_view days[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
    static constexpr std::string_view months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    *this << pick(days) << ", ";
    twoDigits(*this, between(1, 28));
    *this << ' ' << pick(months) << ' ' << between(2019, 2024) << ' ';
    twoDigits(*this, below(24));
    *this << ':';
    twoDigits(*this, below(60));
    *this << ':';
    twoDigits(*this, below(60));
    return *this << " GMT";
}

std::string buildCorpus(uint64_t seed, size_t size, SampleWriter sample, std::string_view core) {
    Corpus corpus(seed);
    while (corpus.size() < size) sample(corpus);
    std::string whole = corpus.text();
    whole += core;
    return whole.substr(whole.size() - size);
}

}  // namespace dictgen
