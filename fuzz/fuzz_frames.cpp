// libFuzzer target: an arbitrary byte stream from one device, cut into
// arbitrary reads, through the decoding path of the network server.
//
// Input layout: four bytes that seed the read sizes, then the stream.

#include "svelmoraclient.h"
#include "velmoraframe.h"
#include "velmorapacketdecoder.h"
#include "velmorareceiverreport.h"

#include <QDate>
#include <QDateTime>
#include <QTime>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

constexpr std::size_t kSeedSize = 4;
// Reads from a few bytes to beyond one maximal frame.
constexpr std::uint32_t kLongestRead = 2 * VelmoraFrame::kMaxFrameSize;
constexpr std::uint32_t kShortReadChance = 4; // one read in four is 1 to 4 bytes
constexpr std::uint32_t kShortestReads = 4;
constexpr int kSentFrameSize = 24;

std::uint32_t nextRandom(std::uint32_t &state)
{
    // xorshift32; the state is never zero.
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void check(bool condition)
{
    if (!condition)
        std::abort();
}

void checkOutcome(const SVelmoraFrameOutcome &outcome, const SVelmoraClient &client)
{
    check(outcome.reply.isEmpty() || outcome.reply.size() == kSentFrameSize);
    check(!outcome.hasEvent || (outcome.handled() && !outcome.reply.isEmpty()));
    const QVector<SVelmoraLogLine> lines =
        VelmoraReceiverReport::frameLines(outcome, client.peerAddress, client.peerPort);
    // Every frame the receiver serves, and every one it drops, is logged.
    check(!lines.isEmpty() || outcome.kind == SVelmoraFrameOutcome::Kind::OtherType);
    for (const SVelmoraLogLine &line : lines)
        check(!line.screenText.isEmpty() || !line.fileText.isEmpty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < kSeedSize)
        return 0;
    std::uint32_t state = (std::uint32_t(data[0]) << 24 | std::uint32_t(data[1]) << 16
                           | std::uint32_t(data[2]) << 8 | data[3]) | 1u;

    SVelmoraClient client;
    client.peerAddress = QStringLiteral("192.0.2.1");
    client.peerPort = 55555;
    const QDateTime receivedAt(QDate(2024, 1, 1), QTime(0, 0));

    const char *stream = reinterpret_cast<const char *>(data + kSeedSize);
    std::size_t left = size - kSeedSize;
    while (left > 0) {
        const std::uint32_t draw = nextRandom(state);
        const std::uint32_t longest = draw % kShortReadChance == 0 ? kShortestReads : kLongestRead;
        const std::size_t readSize = std::min<std::size_t>(left, 1 + (draw >> 2) % longest);

        const QVector<SVelmoraFrameOutcome> outcomes =
            VelmoraPacketDecoder::decodeRead(client, stream, static_cast<int>(readSize), receivedAt);
        for (const SVelmoraFrameOutcome &outcome : outcomes)
            checkOutcome(outcome, client);
        // Between reads at most one incomplete frame waits.
        check(client.receiveBuffer.size() < VelmoraFrame::kMaxFrameSize);

        stream += readSize;
        left -= readSize;
    }
    return 0;
}
