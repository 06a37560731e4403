// A whole sound file decoded through SDL_mixer.
#include "sound/decodedsound.h"

#include <SDL.h>
#include <SDL_mixer.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

// The output a capture decodes for: the window's mixing rate, 16-bit stereo.
constexpr int kDecodeRate = 44100;
constexpr int kDecodeChannels = 2;
constexpr int kDecodeChunkSamples = 4096;

namespace {

// The file's bytes as a read-only stream whose reads end early once `cancel` is set, so that a
// decode can be stopped: the mixer's decoder takes the early end for the file's end.
struct CancellableBytes {
    const std::vector<char>* bytes;
    const std::atomic<bool>* cancel;
    Sint64 at = 0;
};

Sint64 SDLCALL BytesSize(SDL_RWops* ops)
{
    return Sint64(static_cast<CancellableBytes*>(ops->hidden.unknown.data1)->bytes->size());
}

Sint64 SDLCALL BytesSeek(SDL_RWops* ops, Sint64 offset, int whence)
{
    auto* source = static_cast<CancellableBytes*>(ops->hidden.unknown.data1);
    const Sint64 size = Sint64(source->bytes->size());
    const Sint64 base = whence == RW_SEEK_SET ? 0 : whence == RW_SEEK_CUR ? source->at : size;
    if (base + offset < 0 || base + offset > size)
        return SDL_SetError("seek out of range");
    source->at = base + offset;
    return source->at;
}

size_t SDLCALL BytesRead(SDL_RWops* ops, void* buffer, size_t size, size_t count)
{
    auto* source = static_cast<CancellableBytes*>(ops->hidden.unknown.data1);
    if (source->cancel->load() || size == 0)
        return 0;
    const size_t left = source->bytes->size() - size_t(source->at);
    const size_t whole = std::min(count, left / size);
    std::memcpy(buffer, source->bytes->data() + source->at, whole * size);
    source->at += Sint64(whole * size);
    return whole;
}

size_t SDLCALL BytesWrite(SDL_RWops*, const void*, size_t, size_t)
{
    return 0;
}

int SDLCALL BytesClose(SDL_RWops* ops)
{
    SDL_FreeRW(ops);
    return 0;
}

bool Decode(const std::vector<char>& bytes, DecodedSound& sound, const std::atomic<bool>& cancel)
{
    int rate = 0, channels = 0;
    Uint16 format = 0;
    if (!Mix_QuerySpec(&rate, &format, &channels) || format != AUDIO_S16SYS)
        return false;
    CancellableBytes source{&bytes, &cancel};
    SDL_RWops* ops = SDL_AllocRW();
    if (!ops)
        return false;
    ops->size = BytesSize;
    ops->seek = BytesSeek;
    ops->read = BytesRead;
    ops->write = BytesWrite;
    ops->close = BytesClose;
    ops->hidden.unknown.data1 = &source;
    Mix_Chunk* chunk = Mix_LoadWAV_RW(ops, 1);
    if (!chunk)
        return false;
    if (!cancel.load() && chunk->allocated) {
        // The buffer changes hands; the chunk is freed without it.
        sound.samples.reset(reinterpret_cast<int16_t*>(chunk->abuf));
        sound.sampleCount = chunk->alen / sizeof(int16_t);
        sound.rate = rate;
        sound.channels = channels;
        chunk->allocated = 0;
    }
    Mix_FreeChunk(chunk);
    return !cancel.load() && sound.Frames() > 0;
}

} // namespace

void DecodedSound::MixerFree::operator()(int16_t* samples) const
{
    SDL_free(samples);
}

bool DecodeSoundFile(const std::string& path, DecodedSound& sound, const std::atomic<bool>& cancel)
{
    sound = DecodedSound();
    std::ifstream file(path, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.good() && !file.eof())
        return false;
    if (Mix_QuerySpec(nullptr, nullptr, nullptr))
        return Decode(bytes, sound, cancel) || (sound = DecodedSound(), false);
    // Over what the environment asks for: a capture must not take the sound card.
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE);
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0)
        return false;
    Mix_Init(MIX_INIT_MP3);
    bool decoded = false;
    if (Mix_OpenAudio(kDecodeRate, AUDIO_S16SYS, kDecodeChannels, kDecodeChunkSamples) == 0) {
        decoded = Decode(bytes, sound, cancel);
        Mix_CloseAudio();
    }
    Mix_Quit();
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    if (!decoded)
        sound = DecodedSound();
    return decoded;
}
