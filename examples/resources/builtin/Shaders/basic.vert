#version 330 core
// basic.vert as shipped in the built-in archive
layout(location = 0) in vec3 position;
void main() { gl_Position = vec4(position, 1.0); }
