// Script textures decoded with QImage and kept in QOpenGLTexture.
#include "gpu/scripttexture.h"

#include <GL/gl.h>

#include <QFile>
#include <QImageReader>
#include <QOpenGLContext>
#include <QOpenGLTexture>

#include <cerrno>
#include <cstdio>

static const char kUsedUp[] = "the script's GPU memory (512 MiB) is used up";

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
    delete texture;
}

static std::string SizeError(int width, int height)
{
    return "an image of at most " + std::to_string(kLargestScriptImageSide) + " pixels a side, got "
        + std::to_string(width) + "x" + std::to_string(height);
}

bool ReadImageFile(const std::string& path, QImage& image, FileStamp& stamp, std::string& why)
{
    const int fd = OpenSourceFile(path, stamp, why);
    if (fd < 0) {
        if (why != kNotARegularFile)
            why = "a PNG or JPEG image, got " + (errno == ENOENT ? std::string("file not found") : QString::fromLocal8Bit(why.c_str()).toLower().toStdString());
        return false;
    }
    QFile file;
    file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle);
    QImageReader reader(&file);
    // The size is checked before the pixels are decoded, so that a huge image costs nothing.
    const QSize size = reader.size();
    if (size.isValid() && !(ScriptImageSideFits(size.width()) && ScriptImageSideFits(size.height()))) {
        why = SizeError(size.width(), size.height());
        return false;
    }
    if (!reader.read(&image)) {
        why = "a PNG or JPEG image, got " + reader.errorString().toLower().toStdString();
        return false;
    }
    if (!ScriptImageSideFits(image.width()) || !ScriptImageSideFits(image.height())) {
        why = SizeError(image.width(), image.height());
        return false;
    }
    image = image.convertToFormat(QImage::Format_RGBA8888);
    return true;
}

bool ScriptTexture::Load(std::string& why)
{
    SourceFile source{path, FileStamp()};
    QImage image;
    if (!ReadImageFile(path, image, source.stamp, why))
        return false;
    if (!Hold(std::size_t(image.width()) * std::size_t(image.height()) * 4)) {
        why = kUsedUp;
        return false;
    }
    pending = image.mirrored();
    width = pending.width();
    height = pending.height();
    sources = {source};
    return true;
}

// A file that cannot be read now (a save under way, a bad image) leaves the last picture in place.
void ScriptTexture::Refresh()
{
    if (!changed)
        return;
    changed = false;
    std::string why;
    if (!Load(why)) {
        std::printf("%s: %s\n", path.c_str(), why.c_str());
        std::fflush(stdout);
    }
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

void ScriptTexture::FreeGl()
{
    delete texture;
    texture = nullptr;
}
