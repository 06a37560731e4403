#pragma once
// The files a scene's folder holds by convention, as the window and the capture both open them.

// The start-up script, run in the shared state, and the chunk that runs it.
constexpr char kStartScript[] = "prod.lua";
constexpr char kStartChunk[] = "dofile(\"prod.lua\")";
// The soundtrack played unless the command line names another file.
constexpr char kDefaultSoundtrack[] = "Ondrelle.mp3";
