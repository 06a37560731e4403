#pragma once
// The scripted world: each frame runs the script's update() and render(), and the credits
// scroll through the main window's title.

#include <QString>

#include "world/world.h"

class KestrovaWorld : public World {
public:
    KestrovaWorld();
    ~KestrovaWorld() override;

    // The title for the marquee's current position.
    static QString MarqueeTitle();

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
