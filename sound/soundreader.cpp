// Sound files decoded through libsndfile and converted with SDL's audio stream.
#include "sound/soundreader.h"

#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

// libsndfile's handle, and where it reads the shared file.
struct SoundReader::Source {
    SoundFile::Cursor cursor;
    SNDFILE* handle = nullptr;
    ~Source()
    {
        if (handle)
            sf_close(handle);
    }
};

namespace {

SoundFile::Cursor& CursorOf(void* data)
{
    return static_cast<SoundReader::Source*>(data)->cursor;
}

sf_count_t SourceLength(void* data)
{
    return CursorOf(data).File().Size();
}

sf_count_t SourceSeek(sf_count_t offset, int whence, void* data)
{
    return CursorOf(data).Seek(offset, whence);
}

sf_count_t SourceRead(void* buffer, sf_count_t count, void* data)
{
    return std::max<sf_count_t>(0, CursorOf(data).Read(buffer, size_t(std::max<sf_count_t>(0, count))));
}

sf_count_t SourceWrite(const void*, sf_count_t, void*)
{
    return 0;
}

sf_count_t SourceTell(void* data)
{
    return CursorOf(data).Tell();
}

SF_VIRTUAL_IO g_sourceIo = {SourceLength, SourceSeek, SourceRead, SourceWrite, SourceTell};

} // namespace

std::unique_ptr<SoundReader> SoundReader::Open(std::shared_ptr<const SoundFile> file, int rate, int channels)
{
    if (!file || rate <= 0 || channels <= 0)
        return nullptr;
    std::unique_ptr<SoundReader> reader(new SoundReader);
    reader->source.reset(new Source{SoundFile::Cursor(std::move(file))});
    SF_INFO info{};
    reader->source->handle = sf_open_virtual(&g_sourceIo, SFM_READ, &info, reader->source.get());
    if (!reader->source->handle || info.channels <= 0 || info.samplerate <= 0)
        return nullptr;
    reader->rate = rate;
    reader->channels = channels;
    reader->fileRate = info.samplerate;
    reader->fileChannels = info.channels;
    reader->frames = (long long)(std::ceil(double(info.frames) * rate / info.samplerate));
    if (info.samplerate != rate || info.channels != channels) {
        reader->converter = SDL_NewAudioStream(AUDIO_S16SYS, Uint8(info.channels), info.samplerate,
                                               AUDIO_S16SYS, Uint8(channels), rate);
        if (!reader->converter)
            return nullptr;
        // Whole frames of the file, as near the mixer's piece as they come.
        const int frameBytes = info.channels * int(sizeof(int16_t));
        reader->piece.resize(size_t(std::max(1, kConverterPieceBytes / frameBytes) * info.channels));
    }
    return reader;
}

SoundReader::~SoundReader()
{
    if (converter)
        SDL_FreeAudioStream(converter);
}

// Puts the next piece of the file into the converter, and at the file's end what the
// converter still holds back; false once there is nothing more.
bool SoundReader::Refill()
{
    if (drained)
        return false;
    const sf_count_t got = sf_read_short(source->handle, piece.data(), sf_count_t(piece.size()));
    if (got > 0 && SDL_AudioStreamPut(converter, piece.data(), int(got * sf_count_t(sizeof(int16_t)))) != 0)
        return drained = true, false;
    if (got < sf_count_t(piece.size())) {
        SDL_AudioStreamFlush(converter);
        drained = true;
    }
    return true;
}

long long SoundReader::Read(int16_t* samples, long long count)
{
    if (!converter) {
        const sf_count_t got = sf_readf_short(source->handle, samples, count);
        return got > 0 ? got : 0;
    }
    const int frameBytes = channels * int(sizeof(int16_t));
    long long done = 0;
    while (done < count) {
        const long long want = std::min<long long>(count - done, (1 << 20) / frameBytes);
        const int got = SDL_AudioStreamGet(converter, samples + done * channels, int(want) * frameBytes);
        if (got < 0)
            break;
        done += got / frameBytes;
        if (got == 0 && !Refill())
            break;
    }
    return done;
}

bool SoundReader::Seek(long long frame)
{
    // The file's frame as the mixer's own jumps find it: the time, truncated (in whole numbers,
    // where a rate over itself is exactly 1).
    const sf_count_t at = sf_count_t(frame * fileRate / rate);
    if (frame < 0 || sf_seek(source->handle, at, SEEK_SET) < 0)
        return false;
    if (converter) {
        SDL_AudioStreamClear(converter);
        drained = false;
    }
    return true;
}
