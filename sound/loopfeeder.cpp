// The loop's frames decoded ahead of the audio thread.
#include "sound/loopfeeder.h"

#include <algorithm>
#include <cstring>

// About a second and a half at 44.1 kHz: the audio thread takes 4096 frames a buffer.
constexpr int kRingFrames = 65536;
constexpr long long kPieceFrames = 4096;
// A loop that ends this near the length the file's headers give may outlast the music, whose
// true end only decoding finds.
constexpr long long kEndSearchSeconds = 10;

LoopFeeder::LoopFeeder(std::unique_ptr<SoundReader> reader)
    : reader(std::move(reader))
    , channels(this->reader->Channels())
    , ring(size_t(kRingFrames) * size_t(channels))
    , capacity(kRingFrames)
{
    // An SDL thread: SDL keeps an error text for each thread it runs on, which only its own
    // threads free as they end.
    thread = SDL_CreateThread(Run, "music loop", this);
}

LoopFeeder::~LoopFeeder()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        stopping = true;
    }
    wake.notify_all();
    if (thread)
        SDL_WaitThread(thread, nullptr);
}

void LoopFeeder::Start(long long loopFrom, long long loopTo)
{
    {
        std::lock_guard<std::mutex> guard(lock);
        ++generation;
        feeding = false;
        from = headFrame = loopFrom;
        end = loopTo;
        head = ready = 0;
    }
    wake.notify_all();
}

int LoopFeeder::Take(int16_t* samples, int frames, long long& first)
{
    int taken;
    {
        std::lock_guard<std::mutex> guard(lock);
        // The end may have become known only once the frames before it were taken.
        if (headFrame >= end)
            headFrame = from;
        first = headFrame;
        taken = int(std::max(0LL, std::min<long long>(std::min(frames, ready), end - headFrame)));
        for (int done = 0; done < taken;) {
            const int run = std::min(taken - done, capacity - head);
            std::memcpy(samples + size_t(done) * channels, &ring[size_t(head) * channels],
                        size_t(run) * channels * sizeof(int16_t));
            head = (head + run) % capacity;
            done += run;
        }
        ready -= taken;
        headFrame += taken;
    }
    if (taken > 0)
        wake.notify_all();
    return taken;
}

long long LoopFeeder::End() const
{
    std::lock_guard<std::mutex> guard(lock);
    return end;
}

int SDLCALL LoopFeeder::Run(void* feeder)
{
    static_cast<LoopFeeder*>(feeder)->Feed();
    return 0;
}

long long LoopFeeder::EndBefore(long long to)
{
    const long long search = kEndSearchSeconds * reader->Rate();
    const long long start = std::max(0LL, std::min(to, reader->Frames()) - search);
    if (to < reader->Frames() - search || !reader->Seek(start))
        return to;
    std::vector<int16_t> scratch(size_t(kPieceFrames) * channels);
    long long at = start;
    while (at < to) {
        const long long got = reader->Read(scratch.data(), std::min(kPieceFrames, to - at));
        if (got <= 0)
            return at;
        at += got;
    }
    return to;
}

// Decodes the loop into the ring a piece at a time, going back to its start at its end; a new
// Start begins again. The lock is never held while decoding.
void LoopFeeder::Feed()
{
    std::vector<int16_t> piece(size_t(kPieceFrames) * channels);
    unsigned fed = 0;
    long long at = 0, loopFrom = 0, loopEnd = 0;
    std::unique_lock<std::mutex> guard(lock);
    for (;;) {
        wake.wait(guard, [&] { return stopping || generation != fed || (feeding && capacity - ready >= kPieceFrames); });
        if (stopping)
            return;
        if (generation != fed) {
            fed = generation;
            loopFrom = from;
            const long long loopTo = end;
            guard.unlock();
            loopEnd = EndBefore(loopTo);
            at = loopFrom;
            const bool placed = reader->Seek(loopFrom);
            guard.lock();
            if (fed == generation) {
                end = loopEnd;
                feeding = placed && loopEnd > loopFrom;
            }
            continue;
        }
        guard.unlock();
        long long got = reader->Read(piece.data(), std::min(kPieceFrames, loopEnd - at));
        // The music ends before the loop does: from here on the loop goes back at that end.
        const bool musicEnded = got <= 0;
        if (musicEnded)
            loopEnd = at;
        at += std::max(0LL, got);
        const bool wrapped = at >= loopEnd && reader->Seek(loopFrom);
        if (wrapped)
            at = loopFrom;
        guard.lock();
        if (fed != generation)
            continue;
        // An end found here was not known when the ring took the frames before it; the frames
        // after it, from the loop's start, come only now.
        if (musicEnded) {
            end = loopEnd;
            feeding = loopEnd > loopFrom;
            continue;
        }
        for (long long done = 0; done < got;) {
            const int tail = (head + ready) % capacity;
            const long long run = std::min<long long>(got - done, capacity - tail);
            std::memcpy(&ring[size_t(tail) * channels], piece.data() + done * channels,
                        size_t(run) * channels * sizeof(int16_t));
            ready += int(run);
            done += run;
        }
    }
}
