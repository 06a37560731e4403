#pragma once
// A texture a script loads from a PNG or JPEG file: decoded at once (so a bad file is an error
// where it is loaded), uploaded on first use, and read and uploaded again when the file changes
// on disk. Rows are stored bottom up, so that the image's top-left pixel lies at texture
// coordinate (0, 1): the top left of a full-screen pass.

#include <cstddef>
#include <string>

#include <QImage>

#include "gpu/gpuobject.h"
#include "gpu/scriptsampler.h"

class QOpenGLTexture;

// The largest side a script texture or target may have, whatever GL allows.
constexpr int kLargestScriptImageSide = 8192;

class ScriptTexture : public GpuObject, public ScriptSampler {
public:
    explicit ScriptTexture(std::string path);
    ~ScriptTexture() override;

    // Reads the file, decodes it bottom row first and takes its bytes from the budget; false
    // with what was expected and what the file is, or with the budget's refusal, and the last
    // picture kept.
    bool Load(std::string& why) override;

    int Width() const override { return width; }
    int Height() const override { return height; }

    void Refresh() override;
    unsigned SampleTexture() override;
    bool HoldsGl() const override { return texture != nullptr; }
    void FreeGl() override;

private:
    std::string path;
    // Waiting for its upload; null once uploaded.
    QImage pending;
    int width = 0;
    int height = 0;
    QOpenGLTexture* texture = nullptr;
};

// The file decoded as RGBA, top row first, within the sides a script image may have; false with
// what was expected and what the file is. The stamp is the file's as it was read.
bool ReadImageFile(const std::string& path, QImage& image, FileStamp& stamp, std::string& why);

// The largest side GL takes for a texture, or 0 while no context has been current.
int LargestGlTextureSide();
// Whether a side fits the script limit and, when known, the GL one.
bool ScriptImageSideFits(int side);
