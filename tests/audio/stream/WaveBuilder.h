#pragma once
// Builds RIFF WAVE files byte by byte for the tests, damaged ones included: every chunk can
// declare a size other than its real one, and the file can be cut anywhere.
#include "platform/api/mmreg.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

namespace wavetest {

inline QByteArray LE16(std::uint16_t v) {
    QByteArray b(2, '\0');
    b[0] = char(v & 0xFF);
    b[1] = char(v >> 8);
    return b;
}
inline QByteArray LE32(std::uint32_t v) {
    QByteArray b(4, '\0');
    for (int i = 0; i < 4; ++i)
        b[i] = char((v >> (8 * i)) & 0xFF);
    return b;
}

// A "fmt " body: the 16-byte PCM record, plus cbSize when extended.
inline QByteArray FmtBody(std::uint16_t tag, std::uint16_t channels, std::uint32_t rate,
                          std::uint16_t bits, std::optional<std::uint16_t> blockAlign = {},
                          std::optional<std::uint32_t> byteRate = {}, bool withCbSize = false) {
    const std::uint16_t align = blockAlign.value_or(std::uint16_t(channels * ((bits + 7) / 8)));
    QByteArray b = LE16(tag) + LE16(channels) + LE32(rate) + LE32(byteRate.value_or(align * rate)) +
                   LE16(align) + LE16(bits);
    if (withCbSize) b += LE16(0);
    return b;
}

// Samples 0, 1, 2, ... as bytes (wrapping), so any cut or shift shows.
inline QByteArray Ramp(int n, int start = 0) {
    QByteArray b(n, '\0');
    for (int i = 0; i < n; ++i)
        b[i] = char((start + i) & 0xFF);
    return b;
}

struct Chunk {
    Chunk(QByteArray id, QByteArray body, std::optional<std::uint32_t> declared = {},
          bool pad = true)
        : Id(std::move(id)), Body(std::move(body)), Declared(declared), Pad(pad) {}
    QByteArray Id; // 4 characters
    QByteArray Body;
    std::optional<std::uint32_t> Declared; // size written in the header (default: the body's)
    bool Pad;                              // a pad byte after an odd body
};

inline QByteArray ChunkBytes(const Chunk& c) {
    QByteArray b = c.Id + LE32(c.Declared.value_or(std::uint32_t(c.Body.size()))) + c.Body;
    if (c.Pad && (c.Body.size() & 1)) b += '\0';
    return b;
}

// "LIST" of the given type holding (id, value) tags; values get their terminating zero.
inline Chunk List(const QByteArray& type,
                  const std::vector<std::pair<QByteArray, QByteArray>>& tags) {
    QByteArray body = type;
    for (const auto& [id, value] : tags)
        body += ChunkBytes({id, value + '\0'});
    return {"LIST", body};
}

// A whole file; riffSize overrides the RIFF header's size, form the form type.
inline QByteArray Riff(const std::vector<Chunk>& chunks, std::optional<std::uint32_t> riffSize = {},
                       const QByteArray& form = "WAVE", const QByteArray& riffId = "RIFF") {
    QByteArray body = form;
    for (const Chunk& c : chunks)
        body += ChunkBytes(c);
    return riffId + LE32(riffSize.value_or(std::uint32_t(body.size()))) + body;
}

inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray ReadFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace wavetest
