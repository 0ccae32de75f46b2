#pragma once

// The transforms of the fixed-function pipeline, done on the CPU so that every GL behind
// the drawing layer gets the very same matrices: column-major 4x4 floats, each operation
// multiplying the top matrix on the right, as glTranslatef and glRotatef do.

namespace Lumetra {

class MatrixStack {
  public:
    // Deeper than the renderer ever nests (projection, canvas, ring copy).
    static const int kDepth = 4;

    MatrixStack();

    void load(const float matrix[16]);
    // Fails quietly when full or at the bottom, as a GL stack over- or underflow does.
    void push();
    void pop();
    void translate(float x, float y, float z);
    // About the z axis, in degrees, counter-clockwise.
    void rotateZ(float degrees);
    const float* top() const { return matrices[depth]; }

    // The orthographic projection of glOrtho for these six planes.
    static void ortho(float left, float right, float bottom, float top, float near_plane,
                      float far_plane, float out[16]);

  private:
    float matrices[kDepth][16];
    int depth = 0;
};

}  // namespace Lumetra
