#version 450
// Test kernel for launches: dst[i] = src[i] + add for i < count, one 32-lane
// workgroup per 32 words.
layout(local_size_x = 32) in;
layout(set = 0, binding = 0) readonly buffer Src { uint src[]; };
layout(set = 0, binding = 1) writeonly buffer Dst { uint dst[]; };
layout(push_constant) uniform Push {
    uint count;
    uint add;
} pc;

void main() {
    const uint i = gl_GlobalInvocationID.x;
    if (i < pc.count) dst[i] = src[i] + pc.add;
}
