#include "app/soundtrack.h"

// The soundtrack is not played yet: the program runs silent until its window is closed.
void StartSoundtrack() {}
void StopSoundtrack() {}
