// Waveform rows decoded from the music file on demand.
#include "analysis/musicwaveform.h"

#include <algorithm>
#include <cmath>

constexpr long long kBlockFrames = 4096;
constexpr double kSampleScale = 1.0 / 32768;

MusicWaveform::MusicWaveform(std::unique_ptr<SoundReader> reader)
    : reader(std::move(reader))
    , frames(size_t(kBlockFrames * this->reader->Channels()))
{
}

const MusicWaveform::Block& MusicWaveform::BlockAt(long long index)
{
    for (const Block& block : blocks)
        if (block.index == index)
            return block;
    Block& block = blocks[older];
    older = 1 - older;
    block.index = index;
    block.mono.assign(size_t(kBlockFrames), 0);
    const int channels = reader->Channels();
    const long long got = reader->Seek(index * kBlockFrames) ? reader->Read(frames.data(), kBlockFrames) : 0;
    for (long long f = 0; f < got; ++f) {
        int sum = 0;
        for (int c = 0; c < channels; ++c)
            sum += frames[size_t(f * channels + c)];
        block.mono[size_t(f)] = int16_t(sum / channels);
    }
    return block;
}

void MusicWaveform::Fill(double seconds, int n, float* samples)
{
    const double rate = reader->Rate();
    // Far outside the music every sample is silence; the clamp keeps the sample index in range.
    const double length = double(reader->Frames()) / rate;
    const double at = std::isnan(seconds) ? -1.0 : std::clamp(seconds, -1.0, length + 1);
    const long long first = std::llround(at * rate) - n / 2;
    for (int i = 0; i < n; ++i) {
        const long long frame = first + i;
        const int16_t x = frame >= 0 ? BlockAt(frame / kBlockFrames).mono[size_t(frame % kBlockFrames)] : 0;
        samples[i] = float(0.5 + 0.5 * x * kSampleScale);
    }
}
