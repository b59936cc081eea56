#version 450
// A stand-in compute module for the device-layer tests: one 32-lane
// workgroup per dispatch, no subgroup operations, no push constants (some
// kernel layouts have none). Reads the floor-copy constant so that it stays in
// the module.
layout(local_size_x = 32) in;
layout(constant_id = 7) const uint floor_copy = 0;
layout(set = 0, binding = 0) buffer Words { uint words[]; };

void main() {
    words[gl_GlobalInvocationID.x] = gl_GlobalInvocationID.x + floor_copy;
}
