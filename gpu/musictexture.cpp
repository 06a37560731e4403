// The iSpectrum texture: two rows uploaded at most once a frame, while a shader that samples it is used.
#include "gpu/musictexture.h"

#include <GL/gl.h>

#include <algorithm>

// Without a source the texture is the smallest that still reads as silence.
static constexpr int kSilentWidth = 1;

void MusicTexture::Source(const MusicRows& rows, double at)
{
    source = rows;
    seconds = at;
}

unsigned MusicTexture::SampleTexture()
{
    const int width = source.fill ? std::max(source.width, 1) : kSilentWidth;
    if (names[0] && width != madeWidth)
        FreeGl();
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
        madeWidth = width;
        filledFrame = -1;
    }
    const GLuint name = names[shared->frame & 1];
    if (filledFrame != shared->frame) {
        rows.assign(std::size_t(2) * width, 0.0f);
        if (source.fill)
            source.fill(seconds, rows.data(), rows.data() + width);
        else
            std::fill(rows.begin() + width, rows.end(), 0.5f);
        glBindTexture(GL_TEXTURE_2D, name);
        // The rows are tightly packed floats, whatever pixel store the host last left.
        glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
        glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
        glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
        glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, width, 2, GL_RED, GL_FLOAT, rows.data());
        filledFrame = shared->frame;
    }
    return name;
}

void MusicTexture::FreeGl()
{
    if (names[0])
        glDeleteTextures(2, names);
    names[0] = names[1] = 0;
    filledFrame = -1;
}
