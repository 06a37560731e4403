#pragma once
// What a loop plays once it has gone back to its start: the music from the loop's start to its
// end (or to the music's end, where that comes first), again and again, decoded ahead on a
// thread of its own so that the audio thread only copies it.
#include <SDL_thread.h>

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "sound/soundreader.h"

class LoopFeeder {
public:
    explicit LoopFeeder(std::unique_ptr<SoundReader> reader);
    // Stops the thread; the audio thread must be done with the feeder.
    ~LoopFeeder();
    LoopFeeder(const LoopFeeder&) = delete;
    LoopFeeder& operator=(const LoopFeeder&) = delete;

    // Frames from `from` up to `to` from now on, starting at `from`; what was decoded for an
    // earlier loop is dropped. Any thread but the audio thread.
    void Start(long long from, long long to);
    // Copies up to `frames` frames of what the loop plays next, as far as they run on without
    // going back; returns how many were ready, and in `first` the music's frame of the first.
    // For the audio thread.
    int Take(int16_t* samples, int frames, long long& first);
    // Where the loop goes back: its end, or the music's once that is known to come first. At or
    // before the loop's start when there is nothing to loop (the music ends before it).
    long long End() const;

private:
    static int SDLCALL Run(void* feeder);
    void Feed();
    // The music's end, found by reading through the last stretch before `to`; `to` when the
    // music lasts that long.
    long long EndBefore(long long to);

    std::unique_ptr<SoundReader> reader;
    const int channels;
    SDL_Thread* thread = nullptr;
    mutable std::mutex lock;
    std::condition_variable wake;
    bool stopping = false;
    // Bumped by each Start: the thread drops what it decoded for an earlier one.
    unsigned generation = 0;
    // Whether the thread decodes: the loop is placed and has something to play.
    bool feeding = false;
    long long from = 0;
    long long end = 0;
    // A ring of `ready` frames from `head` on; the music's frame of the one at `head`.
    std::vector<int16_t> ring;
    long long headFrame = 0;
    int capacity;
    int head = 0;
    int ready = 0;
};
