#include "canvas/matrix_stack.h"

#include <cmath>

namespace Lumetra {

namespace {

const float kIdentity[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1};

}  // namespace

MatrixStack::MatrixStack() {
    load(kIdentity);
}

void MatrixStack::load(const float matrix[16]) {
    for (int i = 0; i < 16; ++i) {
        matrices[depth][i] = matrix[i];
    }
}

void MatrixStack::push() {
    if (depth + 1 < kDepth) {
        ++depth;
        load(matrices[depth - 1]);
    }
}

void MatrixStack::pop() {
    if (depth > 0) {
        --depth;
    }
}

// M * T(x, y, z): only the last column changes.
void MatrixStack::translate(float x, float y, float z) {
    float* m = matrices[depth];
    for (int row = 0; row < 4; ++row) {
        m[12 + row] = m[row] * x + m[4 + row] * y + m[8 + row] * z + m[12 + row];
    }
}

// M * R(z): the first two columns turn. The angle is taken in radians the way the GL
// libraries do: in double, then rounded to float.
void MatrixStack::rotateZ(float degrees) {
    const float radians = static_cast<float>(degrees * M_PI / 180.0);
    const float s = std::sin(radians);
    const float c = std::cos(radians);
    float* m = matrices[depth];
    for (int row = 0; row < 4; ++row) {
        const float x = m[row];
        const float y = m[4 + row];
        m[row] = x * c + y * s;
        m[4 + row] = y * c - x * s;
    }
}

void MatrixStack::ortho(float left, float right, float bottom, float top, float near_plane,
                        float far_plane, float out[16]) {
    for (int i = 0; i < 16; ++i) {
        out[i] = 0.0f;
    }
    out[0] = 2.0f / (right - left);
    out[5] = 2.0f / (top - bottom);
    out[10] = -2.0f / (far_plane - near_plane);
    out[12] = -(right + left) / (right - left);
    out[13] = -(top + bottom) / (top - bottom);
    out[14] = -(far_plane + near_plane) / (far_plane - near_plane);
    out[15] = 1.0f;
}

}  // namespace Lumetra
