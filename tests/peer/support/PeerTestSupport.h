#pragma once

#include "platform/peer/ZNFPeerAdvertiser.h"
#include "platform/peer/ZNFPeerBrowser.h"
#include "platform/peer/ZNFPeerConnection_p.h"
#include "platform/peer/ZNFPeerDiscovery.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFPeerSession.h"

#include "TestSupport.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QSslSocket>
#include <QString>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QWaitCondition>
#include <QtEndian>
#include <atomic>
#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <vector>

// Session states as the delegate and the handlers hear them.
using PeerState = ZNFPeerSession::State;
constexpr PeerState kNotConnected = PeerState::NotConnected;
constexpr PeerState kConnecting = PeerState::Connecting;
constexpr PeerState kConnected = PeerState::Connected;
// So that a failed comparison names the states.
void PrintTo(PeerState state, std::ostream* out);

// A copy of `value` taken under `mutex`: the recorders below are written from the layer's threads.
template <class T> T locked(QMutex& mutex, const T& value) {
    QMutexLocker lock(&mutex);
    return value;
}

// Records what a session tells its delegate; the layer calls from its own threads.
class RecordingSession : public ZNFPeerSessionDelegate {
public:
    struct StateChange {
        ZNFPeerID peer;
        PeerState state;
    };
    struct Finished {
        QString name;
        ZNFPeerID peer;
        QString path;         // where the layer stored it
        bool existed = false; // whether it was there while the delegate ran
        QByteArray sha256;    // of the file as the delegate saw it
        qint64 size = -1;
        ZNFPeerError error;
    };

    void session(const std::shared_ptr<ZNFPeerSession>&, const ZNFPeerID& peer, PeerState state) override {
        QMutexLocker lock(&m_mutex);
        m_states.push_back({peer, state});
    }
    void session(const std::shared_ptr<ZNFPeerSession>&, const QByteArray& data, const ZNFPeerID&) override {
        QMutexLocker lock(&m_mutex);
        m_data.append(data);
    }
    void session(const std::shared_ptr<ZNFPeerSession>&, const QString& name, const ZNFPeerID& peer,
                 const std::shared_ptr<ZNFProgress>& progress) override;
    void session(const std::shared_ptr<ZNFPeerSession>&, const QString& name, const ZNFPeerID& peer,
                 const QUrl& localURL, const ZNFPeerError& error) override;

    std::vector<StateChange> states() const { return locked(m_mutex, m_states); }
    std::vector<PeerState> statesOf(const ZNFPeerID& peer) const;
    QList<QByteArray> data() const { return locked(m_mutex, m_data); }
    std::vector<Finished> finished() const { return locked(m_mutex, m_finished); }
    QStringList began() const { return locked(m_mutex, m_began); }
    std::shared_ptr<ZNFProgress> lastProgress() const { return locked(m_mutex, m_progress); }
    // Cancels every incoming resource as soon as it is announced.
    std::atomic<bool> refuseAll{false};

private:
    mutable QMutex m_mutex;
    std::vector<StateChange> m_states;
    QList<QByteArray> m_data;
    std::vector<Finished> m_finished;
    QStringList m_began;
    std::shared_ptr<ZNFProgress> m_progress;
};

// Answers every invitation with the given session (or declines with none, or never answers) as
// `mode` says at the time.
class AnsweringAdvertiser : public ZNFPeerAdvertiserDelegate {
public:
    enum class Mode { Accept, Decline, Ignore };
    AnsweringAdvertiser(Mode mode, std::shared_ptr<ZNFPeerSession> session)
        : mode(mode), m_session(session) {}
    void advertiser(const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID& peer,
                    const QByteArray& context, const ZNFPeerInvitationHandler& reply) override;
    void advertiser(const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerError& error) override {
        QMutexLocker lock(&m_mutex);
        m_error = error;
    }
    int invitations() const { return locked(m_mutex, m_count); }
    QByteArray lastContext() const { return locked(m_mutex, m_context); }
    ZNFPeerID lastPeer() const { return locked(m_mutex, m_peer); }
    ZNFPeerError startError() const { return locked(m_mutex, m_error); }
    std::atomic<Mode> mode;

private:
    std::shared_ptr<ZNFPeerSession> m_session;
    mutable QMutex m_mutex;
    int m_count = 0;
    QByteArray m_context;
    ZNFPeerID m_peer;
    ZNFPeerError m_error;
};

class RecordingBrowser : public ZNFPeerBrowserDelegate {
public:
    void browser(const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID& peer,
                 const ZNFDiscoveryInfo& info) override {
        QMutexLocker lock(&m_mutex);
        m_found.append(peer);
        m_infos.insert(peer.uniqueID(), info);
    }
    void browser(const std::shared_ptr<ZNFPeerBrowser>&, const ZNFPeerID& peer) override {
        QMutexLocker lock(&m_mutex);
        m_lost.append(peer);
    }
    QList<ZNFPeerID> found() const { return locked(m_mutex, m_found); }
    QList<ZNFPeerID> lost() const { return locked(m_mutex, m_lost); }
    // As last announced.
    ZNFDiscoveryInfo infoOf(const ZNFPeerID& peer) const {
        return locked(m_mutex, m_infos).value(peer.uniqueID());
    }

private:
    mutable QMutex m_mutex;
    QList<ZNFPeerID> m_found, m_lost;
    QHash<QString, ZNFDiscoveryInfo> m_infos;
};

// A sender completion that can be waited on.
class CompletionProbe {
public:
    ZNFPeerSession::Completion callback();
    bool wait(int timeoutMs = 10000) {
        return waitUntil([this] { return calls() > 0; }, timeoutMs);
    }
    ZNFPeerError error() const { return locked(m_mutex, m_error); }
    int calls() const { return locked(m_mutex, m_calls); }
    std::function<void()> onCall;

private:
    mutable QMutex m_mutex;
    int m_calls = 0;
    ZNFPeerError m_error;
};

// A file of `size` reproducible pseudo-random bytes, written a block at a time; returns its SHA-256.
QByteArray writePatternFile(const QString& path, qint64 size, quint32 seed = 1);
QByteArray sha256OfFile(const QString& path);
// Files in the temporary folder that the layer names as its own.
inline QStringList layerTemporaryFiles() {
    return QDir(QDir::tempPath()).entryList({QStringLiteral("notecrate-resource-*")}, QDir::Files);
}

// A private TMPDIR while alive, so that checks for the layer's temporary files see only this
// test's, whatever else runs at the same time.
class ScopedTemporaryFolder {
public:
    ScopedTemporaryFolder() { qputenv("TMPDIR", QFile::encodeName(m_dir.path())); }
    ~ScopedTemporaryFolder() { m_saved ? qputenv("TMPDIR", *m_saved) : qunsetenv("TMPDIR"); }

private:
    std::optional<QByteArray> m_saved =
        qEnvironmentVariableIsSet("TMPDIR") ? std::optional(qgetenv("TMPDIR")) : std::nullopt;
    QTemporaryDir m_dir;
};

// Small limits so that failure paths finish in milliseconds; restored on destruction.
class ScopedFastLimits {
public:
    ScopedFastLimits();
    ~ScopedFastLimits() { ZNFPeerLimits::current() = m_saved; }

private:
    ZNFPeerLimits m_saved = ZNFPeerLimits::current();
};

// Device identities made once per test program: 0 is the host's, 1 the guest's, 2 a stranger's.
std::shared_ptr<const ZNFPeerIdentity> fixtureIdentity(int which);

// An advertiser + session ("host") and a browser + session ("guest") over in-process
// discovery; find() starts both and waits until the guest found the host, connect() then runs
// the invitation (context "hello") and waits until both sides are connected. Encrypted with the
// fixture identities when `secure`.
struct PeerPair {
    explicit PeerPair(const QString& serviceType = QStringLiteral("nc-test"),
                      ZNFPeerDiscovery::Backend backend = ZNFPeerDiscovery::Backend::Loopback,
                      bool secure = false);
    ~PeerPair();
    bool find();
    bool connect(double timeout = 5);
    // Sends the file at `path` under its own name from the host (to the guest unless `to`
    // names another peer), hands its progress to `started`, and waits for the completion.
    ZNFPeerError sendAndWait(const QString& path, const std::optional<ZNFPeerID>& to = std::nullopt,
                             const std::function<void(ZNFProgress&)>& started = {});

    ScopedTemporaryFolder temporary;
    ZNFPeerID hostID, guestID;
    std::shared_ptr<ZNFPeerSession> hostSession, guestSession;
    std::shared_ptr<RecordingSession> hostEvents = std::make_shared<RecordingSession>(),
                                      guestEvents = std::make_shared<RecordingSession>();
    std::shared_ptr<AnsweringAdvertiser> answering;
    std::shared_ptr<RecordingBrowser> browsing = std::make_shared<RecordingBrowser>();
    std::shared_ptr<ZNFPeerAdvertiser> advertiser;
    std::shared_ptr<ZNFPeerBrowser> browser;
};

// Frames by hand, for a raw socket playing a peer: numbers big-endian, strings length-prefixed.
template <class T> QByteArray rawBigEndian(T value) {
    QByteArray bytes(sizeof(T), Qt::Uninitialized);
    qToBigEndian(value, bytes.data());
    return bytes;
}
inline QByteArray rawU32(quint32 value) {
    return rawBigEndian(value);
}
inline QByteArray rawString(const QString& value) {
    return rawU32(quint32(value.toUtf8().size())) + value.toUtf8();
}
inline QByteArray rawFrame(quint8 type, const QByteArray& payload = {}) {
    return rawU32(quint32(payload.size())) + QByteArray(1, char(type)) + payload;
}
// With a nonce: as an encrypted link's invitation, committing to it.
QByteArray rawInvite(const QString& id, const QString& name, const QByteArray& nonce = {});
inline QByteArray rawBegin(quint32 id, const QString& name, quint64 size) {
    return rawFrame(ZNFPeerFrame::ResourceBegin, rawU32(id) + rawString(name) + rawBigEndian(size));
}
inline QByteArray rawChunk(quint32 id, const QByteArray& bytes) {
    return rawFrame(ZNFPeerFrame::ResourceChunk, rawU32(id) + bytes);
}
inline QByteArray rawEnd(quint32 id, const QByteArray& digest) {
    return rawFrame(ZNFPeerFrame::ResourceEnd, rawU32(id) + digest);
}
inline QByteArray rawResult(quint32 id, quint32 code, quint64 size, const QByteArray& digest) {
    return rawFrame(ZNFPeerFrame::ResourceResult, rawU32(id) + rawU32(code) + rawBigEndian(size) + digest);
}
// A raw socket connected to a local port, from `source` (any 127.x address) when given.
std::unique_ptr<QTcpSocket> connectRaw(quint16 port, const QHostAddress& source = {});
// A TLS socket presenting `identity`, connected and encrypted with `protocol` (or null when
// the handshake failed), accepting any certificate.
std::unique_ptr<QSslSocket> connectRawTls(quint16 port, const ZNFPeerIdentity& identity,
                                          QSsl::SslProtocol protocol = QSsl::TlsV1_3);
// A server on 127.0.0.1 for raw peers: TLS 1.3 presenting `identity` when given (the handshake
// runs as events are processed, accepting any client), plain otherwise.
std::unique_ptr<QTcpServer> listenRaw(const ZNFPeerIdentity* identity = nullptr);
// The type of the next frame on a raw socket (its payload into `payload` when given), 0 when
// none arrives in time.
quint8 nextFrame(QTcpSocket& socket, QByteArray* payload = nullptr, int timeoutMs = 5000);
// True once the peer has closed the socket.
bool waitClosed(QTcpSocket& socket, int timeoutMs = 5000);
