// The WRT section parse and the CPU WRT decoder: a section and a transformed
// stream from the fuzzer, decoded into a guarded destination of the size the
// section announces.
#include "core/wrt/wrt_decode.h"
#include "core/wrt/wrt_format.h"
#include "tests/fuzz/fuzz_support.h"

using namespace kvn;
using namespace kvn::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in({data, size});
    const WrtInput w = readWrtInput(in);
    WrtDecodeState state;
    const Error parsed = parseSection(w.section.data(), w.section.size(), &state);
    check(parsed == Error::None || parsed == Error::BadFrame, "a section refused otherwise than as bad");
    if (parsed != Error::None) return 0;
    check(state.one_byte_count <= state.word_count && state.word_count <= kWrtMaxWords, "word counts read good");
    if (state.decoded_size <= kMaxFuzzRaw) {
        constexpr uint8_t kFill = 0xA5;
        Guarded out(state.decoded_size, kFill);
        const Error e = wrtDecodeCpu(state, w.stream.data(), w.stream.size(), out.data(), state.decoded_size, w.threads);
        out.checkGuard("the WRT decoder wrote past its destination");
        check(e == Error::None || e == Error::Corrupt, "a WRT decode failed otherwise than as corrupt");
        if (e != Error::None)
            for (uint8_t b : out.used()) check(b == kFill, "a refused WRT stream left bytes in the destination");
    }
    freeWrtDecodeState(&state);
    return 0;
}
