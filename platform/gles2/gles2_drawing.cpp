// OpenGL ES 2: one shader program does what the fixed-function calls did. The texel is
// multiplied by the colour as GL_MODULATE does, and texture 0 holds one white texel so that
// a quad drawn before any picture is bound shows its plain colour, as the fixed-function
// pipeline does with no complete texture.

#include <GLES2/gl2.h>

#include <cstdio>

#include "platform/drawing_api.h"

#include "log/log.h"

namespace Lumetra {
namespace Platform {

namespace {

const float kNoQuad[12] = {0};

const char kVertexShader[] =
    "attribute vec4 position;\n"
    "attribute vec2 texcoord;\n"
    "uniform mat4 transform;\n"
    "varying vec2 uv;\n"
    "void main() {\n"
    "    uv = texcoord;\n"
    "    gl_Position = transform * position;\n"
    "}\n";

const char kFragmentShader[] =
    "#ifdef GL_FRAGMENT_PRECISION_HIGH\n"
    "precision highp float;\n"
    "#else\n"
    "precision mediump float;\n"
    "#endif\n"
    "uniform sampler2D picture;\n"
    "uniform vec4 colour;\n"
    "varying vec2 uv;\n"
    "void main() {\n"
    "    gl_FragColor = texture2D(picture, uv) * colour;\n"
    "}\n";

const GLuint kPosition = 0;
const GLuint kTexcoord = 1;

GLuint program = 0;
GLint transform_location = -1;
GLint colour_location = -1;

GLuint compile(GLenum type, const char* source) {
    GLuint shader = glCreateShader(type);
    glShaderSource(shader, 1, &source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        char log[512] = "";
        glGetShaderInfoLog(shader, sizeof(log), nullptr, log);
        logLine(LogLevel::Error, "the GL cannot compile the %s shader: %s",
                type == GL_VERTEX_SHADER ? "vertex" : "fragment", log);
        glDeleteShader(shader);
        return 0;
    }
    return shader;
}

GLuint link(GLuint vertex, GLuint fragment) {
    GLuint linked = glCreateProgram();
    glAttachShader(linked, vertex);
    glAttachShader(linked, fragment);
    glBindAttribLocation(linked, kPosition, "position");
    glBindAttribLocation(linked, kTexcoord, "texcoord");
    glLinkProgram(linked);
    GLint ok = GL_FALSE;
    glGetProgramiv(linked, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        char log[512] = "";
        glGetProgramInfoLog(linked, sizeof(log), nullptr, log);
        logLine(LogLevel::Error, "the GL cannot link the drawing program: %s", log);
        glDeleteProgram(linked);
        return 0;
    }
    return linked;
}

void makeWhiteDefaultTexture() {
    static const GLubyte kWhite[4] = {255, 255, 255, 255};
    glBindTexture(GL_TEXTURE_2D, 0);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, 1, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, kWhite);
}

bool init() {
    GLuint vertex = compile(GL_VERTEX_SHADER, kVertexShader);
    GLuint fragment = compile(GL_FRAGMENT_SHADER, kFragmentShader);
    if (vertex != 0 && fragment != 0) {
        program = link(vertex, fragment);
    }
    // The program keeps them; deleting now frees them with it.
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    if (program == 0) {
        return false;
    }
    glUseProgram(program);
    transform_location = glGetUniformLocation(program, "transform");
    colour_location = glGetUniformLocation(program, "colour");
    glUniform1i(glGetUniformLocation(program, "picture"), 0);
    glActiveTexture(GL_TEXTURE0);
    makeWhiteDefaultTexture();
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glEnableVertexAttribArray(kPosition);
    glEnableVertexAttribArray(kTexcoord);
    // Until the caller hands its own: an enabled array must never point nowhere.
    glVertexAttribPointer(kPosition, 3, GL_FLOAT, GL_FALSE, 0, kNoQuad);
    glVertexAttribPointer(kTexcoord, 2, GL_FLOAT, GL_FALSE, 0, kNoQuad);
    return true;
}

void deinit() {
    glUseProgram(0);
    glDeleteProgram(program);
    program = 0;
}

void setVertices(const float* xyz) {
    glVertexAttribPointer(kPosition, 3, GL_FLOAT, GL_FALSE, 0, xyz);
}

void setTexCoords(const float* st) {
    glVertexAttribPointer(kTexcoord, 2, GL_FLOAT, GL_FALSE, 0, st);
}

void setColor(float r, float g, float b, float a) {
    glUniform4f(colour_location, r, g, b, a);
}

void setTransform(const float* matrix) {
    glUniformMatrix4fv(transform_location, 1, GL_FALSE, matrix);
}

void drawQuad() {
    glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
}

}  // namespace

const DrawingApi gles2_drawing = {
    "ES 2",      EGL_OPENGL_ES2_BIT, 2,        init,         deinit,
    setVertices, setTexCoords,       setColor, setTransform, drawQuad,
};

}  // namespace Platform
}  // namespace Lumetra
