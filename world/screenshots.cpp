// Screenshots of the frame as drawn.
#include "world/screenshots.h"

#include <GL/gl.h>

#include <cstdio>

#include <QFileInfo>
#include <QImage>
#include <QSaveFile>

static std::string CannotWrite(const std::string& file, const QString& why)
{
    return "cannot write '" + file + "': " + why.toStdString();
}

Screenshots::Screenshots() = default;
Screenshots::~Screenshots() = default;

std::string Screenshots::Ask(const std::string& file, Done done)
{
    if (file.empty())
        return "a screenshot needs a file name";
    const QString path = QString::fromStdString(file);
    if (QFileInfo(path).isDir())
        return CannotWrite(file, "it is a folder");
    if (requests.size() >= kMostWaiting)
        return CannotWrite(file, QString("%1 screenshots already wait for the frame's end").arg(kMostWaiting));
    auto output = std::make_unique<QSaveFile>(path);
    if (!output->open(QIODevice::WriteOnly))
        return CannotWrite(file, output->errorString());
    requests.push_back({file, std::move(output), std::move(done)});
    return "";
}

// The pixels of the bound framebuffer's viewport, top row first. Changes the pack alignment.
static QImage ReadViewport()
{
    GLint viewport[4] = {};
    glGetIntegerv(GL_VIEWPORT, viewport);
    QImage image(viewport[2], viewport[3], QImage::Format_RGBX8888);
    if (image.isNull())
        return image;
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glReadPixels(viewport[0], viewport[1], viewport[2], viewport[3], GL_RGBA, GL_UNSIGNED_BYTE, image.bits());
    // GL's rows go bottom up; alpha is what the view's blending left, not what the screen shows.
    return image.mirrored();
}

void Screenshots::SaveAll()
{
    const QImage image = ReadViewport();
    // Taken first: a `done` may ask for another picture, which belongs to the next frame.
    std::vector<Request> saving = std::move(requests);
    requests.clear();
    for (Request& request : saving) {
        std::string error;
        if (image.isNull())
            error = CannotWrite(request.file, "the view has no pixels");
        else if (!image.save(request.output.get(), "PNG") || !request.output->commit())
            error = CannotWrite(request.file, request.output->errorString());
        if (request.done) {
            request.done(error.empty() ? request.file : "", error);
        } else if (!error.empty()) {
            std::printf("saveScreenshot: %s\n", error.c_str());
            std::fflush(stdout);
        }
    }
}
