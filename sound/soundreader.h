#pragma once
// A sound file decoded in pieces into interleaved 16-bit frames of the rate and channel count
// asked for, converted as the mixer converts the music it plays, so that what is analysed or
// looped is what the music plays. Reads WAV, FLAC, Ogg Vorbis, Opus and MP3 (through libsndfile);
// any other format is refused. One thread at a time may use a reader.
#include <SDL_audio.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "sound/soundfile.h"

// The mixer's music decoders hand their output to the converter in pieces of this many bytes
// (a mixing buffer of 16-bit stereo); its resampling rounds once a piece, so the same pieces
// give the same frames.
constexpr int kConverterPieceBytes = 4096 * 2 * 2;

class SoundReader {
public:
    // Null when the file is not in a format the reader knows or cannot be converted.
    static std::unique_ptr<SoundReader> Open(std::shared_ptr<const SoundFile> file, int rate, int channels);
    ~SoundReader();
    SoundReader(const SoundReader&) = delete;
    SoundReader& operator=(const SoundReader&) = delete;

    int Rate() const { return rate; }
    int Channels() const { return channels; }
    // The length in frames that the file's headers give: for some formats an estimate.
    long long Frames() const { return frames; }
    // Up to `count` frames; fewer only at the end of the music (or on a read error).
    long long Read(int16_t* samples, long long count);
    // Goes to that frame; false when the file cannot seek there.
    bool Seek(long long frame);

    struct Source;

private:
    SoundReader() = default;
    bool Refill();

    std::unique_ptr<Source> source;
    SDL_AudioStream* converter = nullptr;
    std::vector<int16_t> piece;
    bool drained = false;
    int rate = 0;
    int channels = 0;
    int fileRate = 0;
    int fileChannels = 0;
    long long frames = 0;
};
