#pragma once
// A texture a script loads from a PNG or JPEG file: decoded at once (so a bad file is an error
// where it is loaded), uploaded on first use with the context current, and read and uploaded
// again when the file changes on disk. Rows are stored bottom up, so that the image's top-left
// pixel lies at texture coordinate (0, 1): the top left of a full-screen pass.

#include <cstddef>
#include <string>
#include <vector>

#include <QImage>

#include "gpu/scriptresource.h"

class QOpenGLTexture;

// The largest side a script texture or target may have, whatever GL allows.
constexpr int kLargestScriptImageSide = 8192;

class ScriptTexture : public ScriptResource, public ScriptSampler {
public:
    explicit ScriptTexture(std::string path);
    ~ScriptTexture() override;

    // Decodes the file, bottom row first; false with what was expected and what the file is.
    static bool Decode(const std::string& path, QImage& image, std::string& why);
    // Takes the decoded image; its bytes must already be reserved in the budget.
    void SetImage(QImage image);
    static std::size_t Bytes(const QImage& image);

    int Width() const { return width; }
    int Height() const { return height; }

    std::vector<std::string> Files() const override { return {path}; }
    void Refresh() override;
    unsigned SampleTexture() override;
    void DropGl() override;

private:
    std::string path;
    // Waiting for its upload; null once uploaded.
    QImage pending;
    int width = 0;
    int height = 0;
    std::size_t reserved = 0;
    QOpenGLTexture* texture = nullptr;
};

// The largest side GL takes for a texture, or 0 while no context has been current.
int LargestGlTextureSide();
// Whether a side fits the script limit and, when known, the GL one.
bool ScriptImageSideFits(int side);
