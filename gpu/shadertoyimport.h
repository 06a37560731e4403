#pragma once
// A multipass shader exported from Shadertoy as JSON, drawn whole: its Common code ahead of every
// pass, its buffers (A to D) each a pair of half-float pictures at the view's size, run in that
// order once a frame, and its Image pass drawn where the script asks. A pass that reads its own
// buffer, or one that runs later, sees what it held at the end of the previous frame. Texture
// inputs are image files of the name the export gives, beside the JSON file.
//
// The JSON and its textures are read when the script loads it (so an input the host does not
// have is an error there), compiled with the context current, and read again when one of them
// changes on disk; a failed compile keeps the last good passes and prints the messages under
// the pass's name ("Buffer A:12: error: ...").

#include <memory>
#include <string>
#include <vector>

#include <QImage>

#include "gpu/compiledobject.h"
#include "gpu/shaderprogram.h"

// The largest JSON export a script may load.
constexpr long kLargestShadertoyFile = 16 << 20;

class QJsonObject;

class ShadertoyImport : public CompiledObject {
public:
    // The path as the script gave it (the name in messages) and as an absolute path.
    ShadertoyImport(std::string name, std::string path);
    ~ShadertoyImport() override;

    // Reads the export and its textures; false with the reason, which names the pass and the
    // channel of an input the host does not have.
    bool Load(std::string& why) override;
    bool HoldsGl() const override { return holdsGl; }
    void FreeGl() override;

    // The first call of a frame runs the buffer passes, each drawn with drawQuad into its own
    // framebuffer; later ones do nothing. Leaves framebuffer, viewport, blending and textures
    // changed. units: one past the last texture unit used.
    void RunBuffers(ShaderFrameInputs inputs, void (*drawQuad)(), int& units);
    // Binds the Image pass with its channels, for the caller to draw into what it has bound;
    // false while no compile has succeeded.
    bool UseImage(ShaderFrameInputs inputs, int& units);
    // Lets go of the samplers UseImage bound, once the Image pass is drawn.
    void EndImage();

private:
    enum class Source { None, Buffer, Texture };
    struct Channel {
        Source source = Source::None;
        int index = 0;  // into buffers or textures
        int minFilter = 0;
        int magFilter = 0;
        int wrap = 0;
    };
    struct Pass {
        std::string name;
        std::string code;
        Channel channels[4];
        int output = -1;  // the buffer a buffer pass draws into
        std::unique_ptr<ShaderProgram> program;
    };
    struct Buffer {
        std::string id;
        char letter = 'A';
        bool mipmaps = false;
        unsigned textures[2] = {0, 0};
        unsigned framebuffers[2] = {0, 0};
        int finished = 0;
    };
    struct Texture {
        std::string file;
        bool flipped = true;
        bool mipmaps = false;
        QImage image;
        unsigned name = 0;
    };
    // What a read of the export gives, taken whole or not at all.
    struct Parsed {
        std::string common;
        std::vector<Pass> passes;
        std::vector<Buffer> buffers;
        std::vector<Texture> textures;
        std::vector<SourceFile> files;
        std::size_t textureBytes = 0;
    };

    bool Parse(const std::string& json, Parsed& parsed, std::string& why) const;
    bool ParseInput(const QJsonObject& input, const std::string& pass, Parsed& parsed, std::string& why) const;
    void Compile() override;
    bool PrepareBuffers();
    void BindChannels(const Pass& pass, ShaderFrameInputs& inputs, int& units);
    unsigned Sampler(const Channel& channel);
    void FreeBuffers();

    std::string name, path;
    std::string common;
    std::vector<Pass> passes;  // the buffers in their order, the Image pass last
    std::vector<Buffer> buffers;
    std::vector<Texture> textures;
    // Sampler objects by filter and wrap: two channels may read one picture two ways.
    struct SamplerName {
        int minFilter, magFilter, wrap;
        unsigned name;
    };
    std::vector<SamplerName> samplers;
    std::size_t textureBytes = 0;
    int madeWidth = 0;
    int madeHeight = 0;
    long ranFrame = -1;
    bool compiled = false;
    bool holdsGl = false;
};
