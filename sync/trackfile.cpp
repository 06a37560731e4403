#include "sync/trackfile.h"

#include <cstring>

#include <QFile>
#include <QSaveFile>

static constexpr size_t kCountBytes = 4;
static constexpr size_t kKeyBytes = 9;
static const char kHexDigits[] = "0123456789ABCDEF";
// Far more keys than any editor makes (seven million); a larger file is not read into memory.
static constexpr qint64 kLargestFileBytes = qint64(64) << 20;

static bool KeptInFileName(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '_';
}

std::string TrackFileName(const std::string& trackName)
{
    std::string name = "sync_";
    for (const char c : trackName) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (KeptInFileName(byte)) {
            name += c;
        } else {
            name += '-';
            name += kHexDigits[byte >> 4];
            name += kHexDigits[byte & 0xF];
        }
    }
    return name + ".track";
}

static void PutLittleEndian(std::string& out, uint32_t value)
{
    for (int shift = 0; shift < 32; shift += 8)
        out += char((value >> shift) & 0xFF);
}

static uint32_t GetLittleEndian(const char* in)
{
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<unsigned char>(in[i]);
    return value;
}

std::string TrackFileBytes(const std::vector<SyncKey>& keys)
{
    std::string bytes;
    bytes.reserve(kCountBytes + keys.size() * kKeyBytes);
    PutLittleEndian(bytes, uint32_t(keys.size()));
    for (const SyncKey& key : keys) {
        uint32_t bits;
        std::memcpy(&bits, &key.value, sizeof bits);
        PutLittleEndian(bytes, key.row);
        PutLittleEndian(bytes, bits);
        bytes += char(key.interpolation);
    }
    return bytes;
}

bool ParseTrackFile(const std::string& bytes, std::vector<SyncKey>& keys, std::string& error)
{
    keys.clear();
    if (bytes.size() < kCountBytes) {
        error = "shorter than its key count";
        return false;
    }
    const uint32_t count = GetLittleEndian(bytes.data());
    // Checked before anything is reserved: a count is no reason to allocate.
    if ((bytes.size() - kCountBytes) / kKeyBytes != count || (bytes.size() - kCountBytes) % kKeyBytes != 0) {
        error = std::to_string(bytes.size()) + " bytes do not hold the " + std::to_string(count)
            + " keys it announces";
        return false;
    }
    keys.reserve(count);
    for (const char* at = bytes.data() + kCountBytes; at < bytes.data() + bytes.size(); at += kKeyBytes) {
        const uint32_t bits = GetLittleEndian(at + 4);
        const unsigned char type = static_cast<unsigned char>(at[8]);
        if (type >= kSyncInterpolationCount) {
            error = "a key at row " + std::to_string(GetLittleEndian(at)) + " has the interpolation "
                + std::to_string(type) + ", past 3";
            keys.clear();
            return false;
        }
        SyncKey key;
        key.row = GetLittleEndian(at);
        std::memcpy(&key.value, &bits, sizeof key.value);
        key.interpolation = SyncInterpolation(type);
        keys.push_back(key);
    }
    return true;
}

TrackFileRead ReadTrackFile(const std::string& path, std::vector<SyncKey>& keys, std::string& error)
{
    keys.clear();
    QFile file(QFile::decodeName(path.c_str()));
    if (!file.exists())
        return TrackFileRead::Missing;
    if (!file.open(QIODevice::ReadOnly)) {
        error = file.errorString().toStdString();
        return TrackFileRead::Damaged;
    }
    if (file.size() > kLargestFileBytes) {
        error = "larger than " + std::to_string(kLargestFileBytes >> 20) + " MiB";
        return TrackFileRead::Damaged;
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        error = file.errorString().toStdString();
        return TrackFileRead::Damaged;
    }
    return ParseTrackFile(bytes.toStdString(), keys, error) ? TrackFileRead::Read : TrackFileRead::Damaged;
}

bool WriteTrackFile(const std::string& path, const std::vector<SyncKey>& keys, std::string& error)
{
    QSaveFile file(QFile::decodeName(path.c_str()));
    const std::string bytes = TrackFileBytes(keys);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes.data(), qint64(bytes.size())) != qint64(bytes.size())
        || !file.commit()) {
        error = file.errorString().toStdString();
        return false;
    }
    return true;
}
