#pragma once
// The scripted world: each frame runs the script's update() and render(), and the credits
// scroll through the main window's title.

#include <QString>

#include <functional>

#include "world/world.h"

struct FrameTimes;

class KestrovaWorld : public World {
public:
    KestrovaWorld();
    ~KestrovaWorld() override;

    // The title for the marquee's current position.
    static QString MarqueeTitle();

    // Runs before each of the frame's chunks, update() and render(); empty for nothing.
    std::function<void()> beforeEachChunk;
    // Where update() and render() note how long they ran; null while nobody measures.
    FrameTimes* chunkTimes = nullptr;

protected:
    void Update(float step) override;
    void Render() override;
};

extern KestrovaWorld* g_world;
extern const QString g_creditsText;
extern int g_marqueeWidth;
extern int g_marqueeFrameDivisor;
extern int g_marqueePos;
extern int g_marqueeFrameCount;
