#pragma once
// The soundtrack "Ondrelle.mp3", started last at start-up and stopped at shut-down.
void StartSoundtrack();
void StopSoundtrack();
