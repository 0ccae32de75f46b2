#pragma once

#include <atomic>
#include <string>

namespace Lumetra {

// One drawable layer. The Art-Net listener writes it through the setters while the render
// loop steps and reads it; every field is a 32-bit atomic accessed with relaxed ordering,
// so each value is read whole and neither side ever waits for the other.
class Canvas {
  public:
    explicit Canvas(std::string content_type);
    ~Canvas();

    Canvas(const Canvas&) = delete;
    Canvas& operator=(const Canvas&) = delete;

    // By reference: the renderer asks for it every frame, and a copy would allocate.
    const std::string& getContentType() const { return content_type; }
    int getContentData() const { return load(content_data); }
    float getPositionX() const { return load(positionX); }
    float getPositionY() const { return load(positionY); }
    float getScalingX() const { return load(scalingX); }
    float getScalingY() const { return load(scalingY); }
    float getRotation() const { return load(rotation); }
    unsigned int getNumber() const { return load(number); }
    float getZoom() const { return load(zoom); }
    float getRotationAll() const { return load(rotation_all); }
    float getR() const { return load(r); }
    float getG() const { return load(g); }
    float getB() const { return load(b); }
    float getAlpha() const { return load(alpha); }
    int getShutterState() const { return load(shutter_state); }
    int getShutterSet() const { return load(shutter_set); }
    float getSpeed() const { return load(r_speed); }
    float getSpeedAll() const { return load(r_speed_all); }
    // During a crossfade: the picture fading out (-1: none) and how far the current one
    // has come in, 0 to 1.
    int getFadingContent() const { return load(fading_content); }
    float getFade() const { return load(fade); }

    void setContentData(int v) { store(content_data, v); }
    void setPositionX(float v) { store(positionX, v); }
    void setPositionY(float v) { store(positionY, v); }
    void setScalingX(float v) { store(scalingX, v); }
    void setScalingY(float v) { store(scalingY, v); }
    void setRotation(float v) { store(rotation, v); }
    void setSpeed(float v) { store(r_speed, v); }
    void setNumber(unsigned int v) { store(number, v); }
    void setZoom(float v) { store(zoom, v); }
    void setRotationAll(float v) { store(rotation_all, v); }
    void setSpeedAll(float v) { store(r_speed_all, v); }
    void setR(float v) { store(this->r, v); }
    void setG(float v) { store(this->g, v); }
    void setB(float v) { store(this->b, v); }
    void setAlpha(float v) { store(alpha, v); }
    void setShutterSet(int v) { store(shutter_set, v); }
    void setFadingContent(int v) { store(fading_content, v); }
    void setFade(float v) { store(fade, v); }

    // Advances spin and strobe by one rendered frame.
    void frameStep();
    float correctAngleRange(float angle);

  private:
    template <typename T>
    static T load(const std::atomic<T>& field) {
        return field.load(std::memory_order_relaxed);
    }
    template <typename T>
    static void store(std::atomic<T>& field, T value) {
        field.store(value, std::memory_order_relaxed);
    }
    void advanceAngle(std::atomic<float>& angle, const std::atomic<float>& speed);
    void advanceShutter();

    const std::string content_type;
    std::atomic<int> content_data{0};
    std::atomic<float> positionX{0.0f};
    std::atomic<float> positionY{0.0f};
    std::atomic<float> scalingX{1.0f};
    std::atomic<float> scalingY{1.0f};
    std::atomic<float> rotation{0.0f};
    std::atomic<float> r_speed{0.0f};
    std::atomic<unsigned int> number{0};
    std::atomic<float> zoom{0.0f};
    std::atomic<float> rotation_all{0.0f};
    std::atomic<float> r_speed_all{0.0f};
    std::atomic<float> r{1.0f};
    std::atomic<float> g{1.0f};
    std::atomic<float> b{1.0f};
    std::atomic<float> alpha{1.0f};
    std::atomic<int> shutter_state{0};
    std::atomic<unsigned int> shutter_time{0};
    std::atomic<int> shutter_set{0};
    std::atomic<int> fading_content{-1};
    std::atomic<float> fade{1.0f};
};

}  // namespace Lumetra
