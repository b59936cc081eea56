#version 450
// Stands in for the LZ-encode module: reports its two specialization
// constants and the first push-constant word.
layout(local_size_x = 32) in;
layout(constant_id = 0) const uint lz_mode = 99;
layout(constant_id = 1) const uint hash16 = 99;
layout(set = 0, binding = 0) writeonly buffer Out { uint words[]; };
layout(push_constant) uniform Push { uint first; } pc;

void main() {
    if (gl_GlobalInvocationID.x == 0) {
        words[0] = lz_mode;
        words[1] = hash16;
        words[2] = pc.first;
    }
}
