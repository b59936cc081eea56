#version 450
// The benchmark's yardstick: the fastest the device moves bytes from one
// buffer to another with a compute kernel.
layout(local_size_x = 256) in;
layout(set = 0, binding = 0) readonly buffer Source { uvec4 source[]; };
layout(set = 0, binding = 1) writeonly buffer Destination { uvec4 destination[]; };
layout(push_constant) uniform Push { uint count; };

void main() {
    const uint stride = gl_NumWorkGroups.x * 256u;
    for (uint i = gl_GlobalInvocationID.x; i < count; i += stride) destination[i] = source[i];
}
