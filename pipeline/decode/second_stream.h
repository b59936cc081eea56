// A decode batch's second stream: where work that only reads what the decode
// stream wrote runs beside it, in the form the device offers
// (decodeSecondStreamForm).
#pragma once

#include "core/errors.h"
#include "core/handle/decoder_state.h"
#include "pipeline/device/device_ops.h"

namespace kvn {

struct SecondStream {
    StreamHandle stream = 0;      // where the work is queued
    bool side = false;            // a stream of its own: joinSecondStream orders the batch's stream after it
    bool dedicated_copy = false;  // the copy-out takes memcpyDtoHXferAsync
};

// The side stream's events: the decode stream ready for the side stream, the
// side stream's work done, and each scratch half free again.
enum SideEvent : uint32_t { kDecodeReady = 0, kSideDone = 1, kHalfFree = 2 };

// Opens the second stream after everything queued on `stream` so far. A
// device that offers none, or whose second stream cannot be made, gives
// `stream` itself: the work then runs in order.
Error openSecondStream(DecoderState& decoder, StreamHandle stream, bool own_stream, SecondStream* second);

// The side-stream form alone: for work whose order the decode stream's own
// auxiliary part cannot keep (it takes everything queued after it).
Error openSideStream(DecoderState& decoder, StreamHandle stream, SecondStream* second);

// Orders later work on `stream` after everything queued on the second
// stream, so that whatever reads the batch's results after the join (and
// every wait on `stream`) sees that work finished. Nothing for a second
// stream that is `stream` itself.
Error joinSecondStream(DecoderState& decoder, StreamHandle stream, const SecondStream& second);

// The event `which` (kHalfFree + h for half h) marks what is queued on
// `stream` so far; later work on `waiter` waits for its last mark.
Error markSideEvent(DecoderState& decoder, uint32_t which, StreamHandle stream);
Error waitSideEvent(DecoderState& decoder, StreamHandle waiter, uint32_t which);

}  // namespace kvn
