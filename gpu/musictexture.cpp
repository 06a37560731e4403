// The iSpectrum texture: two rows uploaded at most once a frame, while a shader that samples it is used.
#include "gpu/musictexture.h"

#include <GL/gl.h>

#include <utility>
#include <vector>

#include "gpu/scriptframe.h"
#include "gpu/scriptresource.h"
#include "gpu/scriptshader.h"

namespace {

// A script resource, though the host owns it, so that its name is freed with the others when
// the context goes and made again in the next one.
class MusicTexture : public ScriptResource {
public:
    MusicTexture(int width, MusicTextureFill fill) : width(width), fill(std::move(fill)), rows(2 * width) {}
    void Replace(MusicTextureFill f) { fill = std::move(f); filledFrame = -1; }
    unsigned Current();
    void DropGl() override;

private:
    int width;
    MusicTextureFill fill;
    std::vector<float> rows;
    // Two textures taking turns a frame: the one the last frame sampled may still be in the
    // renderer's hands, and filling it would wait for that frame to finish.
    GLuint names[2] = {0, 0};
    long filledFrame = -1;
};

} // namespace

// Called by the shader as it binds its samplers; it binds this texture to its unit itself, so the
// binding of the active unit is given back as found.
unsigned MusicTexture::Current()
{
    if (!ScriptGl())
        return 0;
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);
    if (!names[0]) {
        glGenTextures(2, names);
        for (const GLuint name : names) {
            glBindTexture(GL_TEXTURE_2D, name);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            glTexImage2D(GL_TEXTURE_2D, 0, GL_R32F, width, 2, 0, GL_RED, GL_FLOAT, nullptr);
        }
        filledFrame = -1;
    }
    const GLuint name = names[ScriptGpuFrame() & 1];
    glBindTexture(GL_TEXTURE_2D, name);
    if (filledFrame != ScriptGpuFrame()) {
        fill(rows.data(), rows.data() + width);
        // The rows are tightly packed floats, whatever pixel store the host last left.
        glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, 2, GL_RED, GL_FLOAT, rows.data());
        glPopClientAttrib();
        filledFrame = ScriptGpuFrame();
    }
    glBindTexture(GL_TEXTURE_2D, GLuint(previous));
    return name;
}

void MusicTexture::DropGl()
{
    if (names[0] && ScriptGl())
        glDeleteTextures(2, names);
    names[0] = names[1] = 0;
    filledFrame = -1;
}

// Made once and kept to the end of the process: the resource list it sits in may be gone by the
// time static objects are destroyed.
static MusicTexture* g_musicTexture = nullptr;

void ProvideMusicTexture(int width, MusicTextureFill fill)
{
    if (g_musicTexture) {
        g_musicTexture->Replace(std::move(fill));
        return;
    }
    g_musicTexture = new MusicTexture(width, std::move(fill));
    SetHostShaderTexture("iSpectrum", CurrentMusicTexture);
}

unsigned CurrentMusicTexture()
{
    return g_musicTexture ? g_musicTexture->Current() : 0;
}
