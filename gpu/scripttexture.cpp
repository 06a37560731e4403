// Script textures decoded with QImage and kept in QOpenGLTexture.
#include "gpu/scripttexture.h"

#include <GL/gl.h>

#include <QFile>
#include <QImageReader>
#include <QOpenGLContext>
#include <QOpenGLTexture>

#include <cstdio>

#include "gpu/gpumemory.h"

static int g_largestGlSide = 0;

int LargestGlTextureSide()
{
    if (!g_largestGlSide && QOpenGLContext::currentContext())
        glGetIntegerv(GL_MAX_TEXTURE_SIZE, &g_largestGlSide);
    return g_largestGlSide;
}

bool ScriptImageSideFits(int side)
{
    const int gl = LargestGlTextureSide();
    return side >= 1 && side <= kLargestScriptImageSide && (gl == 0 || side <= gl);
}

ScriptTexture::ScriptTexture(std::string path)
    : path(std::move(path))
{
}

ScriptTexture::~ScriptTexture()
{
    ReleaseScriptGpuMemory(reserved);
    if (QOpenGLTexture* t = texture)
        DeferGlRelease([t] { delete t; });
}

bool ScriptTexture::Decode(const std::string& path, QImage& image, std::string& why)
{
    QImageReader reader(QFile::decodeName(path.c_str()));
    // The size is checked before the pixels are decoded, so that a huge image costs nothing.
    const QSize size = reader.size();
    if (size.isValid() && !(ScriptImageSideFits(size.width()) && ScriptImageSideFits(size.height()))) {
        why = "an image of at most " + std::to_string(kLargestScriptImageSide) + " pixels a side, got "
            + std::to_string(size.width()) + "x" + std::to_string(size.height());
        return false;
    }
    if (!reader.read(&image)) {
        why = "a PNG or JPEG image, got " + reader.errorString().toLower().toStdString();
        return false;
    }
    if (!ScriptImageSideFits(image.width()) || !ScriptImageSideFits(image.height())) {
        why = "an image of at most " + std::to_string(kLargestScriptImageSide) + " pixels a side, got "
            + std::to_string(image.width()) + "x" + std::to_string(image.height());
        return false;
    }
    image = image.convertToFormat(QImage::Format_RGBA8888).mirrored();
    return true;
}

std::size_t ScriptTexture::Bytes(const QImage& image)
{
    return std::size_t(image.width()) * std::size_t(image.height()) * 4;
}

void ScriptTexture::SetImage(QImage image)
{
    reserved = Bytes(image);
    width = image.width();
    height = image.height();
    pending = std::move(image);
}

// A file that cannot be read now (a save under way, a bad image) leaves the last picture in place.
void ScriptTexture::Refresh()
{
    if (!changed)
        return;
    changed = false;
    QImage image;
    std::string why;
    if (!Decode(path, image, why)) {
        std::printf("%s: %s\n", path.c_str(), why.c_str());
        std::fflush(stdout);
        return;
    }
    if (Bytes(image) != reserved) {
        if (!ReserveScriptGpuMemory(Bytes(image))) {
            std::printf("%s: the script's GPU memory (512 MiB) is used up\n", path.c_str());
            std::fflush(stdout);
            return;
        }
        ReleaseScriptGpuMemory(reserved);
    }
    SetImage(std::move(image));
}

unsigned ScriptTexture::SampleTexture()
{
    if (!pending.isNull()) {
        delete texture;
        texture = new QOpenGLTexture(QOpenGLTexture::Target2D);
        texture->setFormat(QOpenGLTexture::RGBA8_UNorm);
        texture->setSize(pending.width(), pending.height());
        texture->setMipLevels(1);
        texture->allocateStorage(QOpenGLTexture::RGBA, QOpenGLTexture::UInt8);
        texture->setData(QOpenGLTexture::RGBA, QOpenGLTexture::UInt8, pending.constBits());
        texture->setMinMagFilters(QOpenGLTexture::Linear, QOpenGLTexture::Linear);
        texture->setWrapMode(QOpenGLTexture::Repeat);
        pending = QImage();
    }
    return texture ? texture->textureId() : 0;
}

void ScriptTexture::DropGl()
{
    delete texture;
    texture = nullptr;
}
