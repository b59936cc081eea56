#version 450
// Stands in for encode modules that read bytes through 8-bit storage without
// 8-bit arithmetic: the compiler declares the storage capability but not Int8.
#extension GL_EXT_shader_8bit_storage : require
layout(local_size_x = 32) in;
layout(set = 0, binding = 0) readonly buffer Bytes { uint8_t bytes[]; };
layout(set = 0, binding = 1) writeonly buffer Out { uint words[]; };

void main() {
    const uint i = gl_GlobalInvocationID.x;
    words[i] = uint(bytes[i]);
}
