// Frames arriving at a peer session from the network. The harness plays the invited peer on a
// loopback socket: it reads the session's invitation, accepts it (unless the input answers for
// itself) and sends the input's frames, then hangs up. The session must end the link, tell its
// delegate how every resource it began ended (and refused ones only with an error), keep
// received data in order, store resources only in its own temporary files and leave none of
// them behind.
//
// The session has no identity, so its link carries plain frames: what the frame parser gets
// from the TLS layer's plaintext side on an encrypted link, without a handshake per input.
//
// Input: a flags byte (bit 0: send the rest unframed; bit 1: no accept from the harness), then
// records of type (1 byte), payload length (2 bytes, big-endian) and payload.

#include "FuzzSupport.h"
#include "peer/support/PeerTestSupport.h"

#include "platform/peer/ZNFPeerSession.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

const QString kPeerId = QStringLiteral("FUZZ-PEER-0001");

struct Stream {
    QByteArray bytes;
    QList<QByteArray> data; // payloads of the data frames, in order
};

Stream streamFromInput(const QByteArray& input, bool raw) {
    Stream stream;
    if (raw) {
        stream.bytes = input;
        return stream;
    }
    qsizetype at = 0;
    while (at < input.size()) {
        const quint8 type = quint8(input[at]);
        const int length = at + 2 < input.size() ? (quint8(input[at + 1]) << 8) | quint8(input[at + 2]) : 0;
        const QByteArray payload = input.mid(at + 3, length);
        at += 3 + length;
        stream.bytes += rawFrame(type, payload);
        if (type == ZNFPeerFrame::Data)
            stream.data << payload;
    }
    return stream;
}

bool waitFor(const std::function<bool()>& done, int timeoutMs) {
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QThread::usleep(200);
    }
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NCFuzz::environment();
    static QTcpServer* server = [] {
        auto* s = new QTcpServer;
        FUZZ_CHECK(s->listen(QHostAddress::LocalHost), s->errorString());
        return s;
    }();
    static std::shared_ptr<ZNFPeerSession> session =
        ZNFPeerSession::create(ZNFPeerID(QStringLiteral("Fuzzed Session")));

    const QByteArray input = NCFuzz::bytes(data, size);
    const quint8 flags = input.isEmpty() ? 0 : quint8(input[0]);
    const bool raw = flags & 1;
    const bool answers = !(flags & 2);
    const Stream stream = streamFromInput(input.mid(1), raw);

    auto events = std::make_shared<RecordingSession>();
    session->setDelegate(events);
    session->connectToPeer(ZNFPeerID(), QHostAddress(QHostAddress::LocalHost), server->serverPort(),
                           QByteArray(), 10);
    FUZZ_CHECK(server->waitForNewConnection(5000), QStringLiteral("the session did not connect"));
    std::unique_ptr<QTcpSocket> socket(server->nextPendingConnection());
    QByteArray invitation;
    FUZZ_CHECK(nextFrame(*socket, &invitation) == ZNFPeerFrame::Invite, QStringLiteral("no invitation"));

    if (answers)
        socket->write(
            rawFrame(ZNFPeerFrame::Accept, rawString(kPeerId) + rawString(QStringLiteral("Fuzzing Peer"))));
    socket->write(stream.bytes);
    while (socket->bytesToWrite() > 0 && socket->waitForBytesWritten(5000)) {
    }
    socket->disconnectFromHost();

    // The link must end once the peer has hung up, whatever it sent before.
    const bool ended = waitFor(
        [&] {
            const auto states = events->states();
            return std::any_of(states.begin(), states.end(), [](const RecordingSession::StateChange& change) {
                return change.state == ZNFPeerSession::State::NotConnected;
            });
        },
        10000);
    FUZZ_CHECK(ended, QStringLiteral("the session kept a link whose peer hung up"));
    socket.reset();

    const std::vector<RecordingSession::StateChange> states = events->states();
    FUZZ_CHECK(states.front().state == ZNFPeerSession::State::Connecting,
               QStringLiteral("first state is not connecting"));
    FUZZ_CHECK(states.back().state == ZNFPeerSession::State::NotConnected && states.size() <= 3,
               QStringLiteral("%1 state changes").arg(states.size()));
    FUZZ_CHECK(session->connectedPeers().isEmpty(), QStringLiteral("a peer stayed connected"));

    // Data arrives in order and only as sent; what follows a broken frame is dropped.
    const QList<QByteArray> received = events->data();
    if (!raw)
        FUZZ_CHECK(received.size() <= stream.data.size() && received == stream.data.mid(0, received.size()),
                   QStringLiteral("data out of order or invented"));

    const QStringList began = events->began();
    const std::vector<RecordingSession::Finished> finished = events->finished();
    int endedWithoutError = 0;
    for (const RecordingSession::Finished& f : finished)
        endedWithoutError += f.error.isNull() ? 1 : 0;
    FUZZ_CHECK(finished.size() >= size_t(began.size()) && endedWithoutError <= began.size(),
               QStringLiteral("%1 resources began, %2 finished").arg(began.size()).arg(finished.size()));
    for (const RecordingSession::Finished& f : finished) {
        if (f.error.code() != ZNFPeerError::None) {
            FUZZ_CHECK(f.path.isEmpty(), QStringLiteral("a failed resource came with a file"));
            continue;
        }
        // The name is a label only: the bytes lie in a temporary file of the layer's choosing.
        const QFileInfo file(f.path);
        FUZZ_CHECK(f.existed && file.absolutePath() == QFileInfo(QDir::tempPath()).absoluteFilePath() &&
                       file.fileName().startsWith("notecrate-resource-"_L1),
                   QStringLiteral("resource %1 stored at %2").arg(f.name, f.path));
    }
    FUZZ_CHECK(layerTemporaryFiles().isEmpty(),
               QStringLiteral("left behind: ") + layerTemporaryFiles().join(u','));
    return 0;
}
