// The parser's result must not depend on how the line cuts the bytes, and
// every byte fed must be accounted for by exactly one message.
#include "sim/displayprotocol.h"

#include <cstdlib>

namespace {

// clang-format off

void require(bool ok) { if (!ok) std::abort(); }

// clang-format on

// feed() joins a garbage run with one cause only within one call; across
// calls the same run comes in pieces. Joined here alike for both readings.
void append(QList<ParsedMessage> &all, QList<ParsedMessage> more)
{
    for (ParsedMessage &m : more) {
        require(m.size > 0 && m.bytes.size() <= m.size);
        if (m.kind == MessageKind::Garbage && !all.isEmpty() && all.last().kind == MessageKind::Garbage
            && all.last().problem == m.problem) {
            ParsedMessage &run = all.last();
            run.size += m.size;
            run.bytes = (run.bytes + m.bytes).first(qMin(run.bytes.size() + m.bytes.size(), DisplayProtocol::kGarbageKept));
            continue;
        }
        all.append(std::move(m));
    }
}

qsizetype sizeOf(const QList<ParsedMessage> &all)
{
    qsizetype n = 0;
    for (const ParsedMessage &m : all)
        n += m.size;
    return n;
}

// Feeds `cuts` (lengths, each 1 or more) of `stream` one by one, then closes the line.
QList<ParsedMessage> read(QByteArrayView stream, const QList<qsizetype> &cuts)
{
    DisplayProtocol parser;
    QList<ParsedMessage> all;
    qsizetype at = 0;
    for (qsizetype n : cuts) {
        append(all, parser.feed(stream.sliced(at, n)));
        at += n;
        require(sizeOf(all) == at - parser.pending());
    }
    if (std::optional<ParsedMessage> rest = parser.lineClosed())
        append(all, {std::move(*rest)});
    require(parser.pending() == 0 && sizeOf(all) == stream.size());
    return all;
}

}  // namespace

// The first byte mixes into the stream's own bytes to give the cut lengths (1..256).
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const QByteArrayView stream(data + 1, qsizetype(size - 1));
    QList<qsizetype> cuts;
    for (qsizetype at = 0; at < stream.size(); at += cuts.last())
        cuts.append(qMin(stream.size() - at, qsizetype(1 + quint8(stream[at] ^ char(data[0])))));

    const QList<ParsedMessage> whole = read(stream, stream.isEmpty() ? QList<qsizetype>{} : QList<qsizetype>{stream.size()});
    const QList<ParsedMessage> split = read(stream, cuts);
    require(whole.size() == split.size());
    for (qsizetype i = 0; i < whole.size(); ++i) {
        const ParsedMessage &a = whole[i], &b = split[i];
        require(a.kind == b.kind && a.bytes == b.bytes && a.problem == b.problem && a.size == b.size
                && a.start == b.start && a.end == b.end && a.data == b.data);
    }
    return 0;
}
