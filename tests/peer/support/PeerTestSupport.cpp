#include "peer/support/PeerTestSupport.h"

#include "TestSupport.h"
#include "platform/peer/ZNFSha256.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QSslConfiguration>
#include <QSslServer>
#include <QtEndian>

void RecordingSession::session(const std::shared_ptr<ZNFPeerSession>&, const QString& name, const ZNFPeerID&,
                               const std::shared_ptr<ZNFProgress>& progress) {
    if (refuseAll)
        progress->cancel();
    QMutexLocker lock(&m_mutex);
    m_began.append(name);
    m_progress = progress;
}

void RecordingSession::session(const std::shared_ptr<ZNFPeerSession>&, const QString& name,
                               const ZNFPeerID& peer, const QUrl& localURL, const ZNFPeerError& error) {
    Finished f{name, peer, localURL.toLocalFile(), false, {}, -1, error};
    f.existed = !f.path.isEmpty() && QFileInfo::exists(f.path);
    if (f.existed) {
        f.sha256 = sha256OfFile(f.path);
        f.size = QFileInfo(f.path).size();
    }
    QMutexLocker lock(&m_mutex);
    m_finished.push_back(f);
}

void PrintTo(PeerState state, std::ostream* out) {
    switch (state) {
    case kNotConnected:
        *out << "NotConnected";
        return;
    case kConnecting:
        *out << "Connecting";
        return;
    case kConnected:
        *out << "Connected";
        return;
    }
    *out << "state " << qint64(state);
}

std::vector<PeerState> RecordingSession::statesOf(const ZNFPeerID& peer) const {
    QMutexLocker lock(&m_mutex);
    std::vector<PeerState> result;
    for (const auto& change : m_states)
        if (change.peer == peer)
            result.push_back(change.state);
    return result;
}

void AnsweringAdvertiser::advertiser(const std::shared_ptr<ZNFPeerAdvertiser>&, const ZNFPeerID& peer,
                                     const QByteArray& context, const ZNFPeerInvitationHandler& reply) {
    {
        QMutexLocker lock(&m_mutex);
        ++m_count;
        m_context = context;
        m_peer = peer;
    }
    if (mode == Mode::Accept)
        reply(true, m_session);
    else if (mode == Mode::Decline)
        reply(false, nullptr);
}

ZNFPeerSession::Completion CompletionProbe::callback() {
    return [this](const ZNFPeerError& error) {
        if (onCall)
            onCall();
        QMutexLocker lock(&m_mutex);
        ++m_calls;
        m_error = error;
    };
}

QByteArray writePatternFile(const QString& path, qint64 size, quint32 seed) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return {};
    QRandomGenerator generator(seed);
    ZNFSha256 sha;
    QByteArray block(1 << 20, Qt::Uninitialized);
    qint64 left = size;
    while (left > 0) {
        const qint64 n = qMin<qint64>(left, block.size());
        generator.fillRange(reinterpret_cast<quint32*>(block.data()), block.size() / 4);
        file.write(block.constData(), n);
        sha.addData(block.constData(), n);
        left -= n;
    }
    return sha.result();
}

QByteArray sha256OfFile(const QString& path) {
    QFile file(path);
    QCryptographicHash sha(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && sha.addData(&file) ? sha.result() : QByteArray();
}

ScopedFastLimits::ScopedFastLimits() {
    ZNFPeerLimits& limits = ZNFPeerLimits::current();
    limits.handshakeTimeoutMs = 300;
    limits.replyTimeoutMs = 2000;
    limits.maxPendingConnections = 4;
    limits.idleTimeoutMs = 2000;
    limits.keepaliveIntervalMs = 500;
}

std::shared_ptr<const ZNFPeerIdentity> fixtureIdentity(int which) {
    static std::shared_ptr<const ZNFPeerIdentity> made[3];
    if (!made[which])
        made[which] = std::make_shared<const ZNFPeerIdentity>(
            ZNFPeerIdentity::generate(QStringLiteral("fixture %1").arg(which)));
    return made[which];
}

PeerPair::PeerPair(const QString& serviceType, ZNFPeerDiscovery::Backend backend, bool secure)
    : hostID(secure ? ZNFPeerID(QStringLiteral("Host Computer"), fixtureIdentity(0))
                    : ZNFPeerID(QStringLiteral("Host Computer"))),
      guestID(secure ? ZNFPeerID(QStringLiteral("Guest Phone"), fixtureIdentity(1))
                     : ZNFPeerID(QStringLiteral("Guest Phone"))) {
    ZNFPeerDiscovery::setBackend(backend);
    hostSession = ZNFPeerSession::create(hostID);
    guestSession = ZNFPeerSession::create(guestID);
    hostSession->setDelegate(hostEvents);
    guestSession->setDelegate(guestEvents);
    answering = std::make_shared<AnsweringAdvertiser>(AnsweringAdvertiser::Mode::Accept, hostSession);
    // The display name a discovery entry claims is not believed: the peer's own is.
    const ZNFDiscoveryInfo info{{QStringLiteral("host"), QStringLiteral("test box")},
                                {ZNFPeerDiscovery_displayNameKey, QStringLiteral("Spoof")}};
    advertiser = ZNFPeerAdvertiser::create(hostID, info, serviceType);
    advertiser->setDelegate(answering);
    browser = ZNFPeerBrowser::create(guestID, serviceType);
    browser->setDelegate(browsing);
}

PeerPair::~PeerPair() {
    if (advertiser)
        advertiser->stopAdvertisingPeer();
    browser->stopBrowsingForPeers();
    hostSession->disconnect();
    guestSession->disconnect();
}

bool PeerPair::find() {
    advertiser->startAdvertisingPeer();
    browser->startBrowsingForPeers();
    // A responder may take seconds to announce.
    return waitUntil([this] { return browsing->found().contains(hostID); }, 10000);
}

bool PeerPair::connect(double timeout) {
    if (!find())
        return false;
    browser->invitePeer(hostID, guestSession, QByteArray("hello"), timeout);
    return waitUntil([this] {
        return hostSession->connectedPeers().contains(guestID) &&
               guestSession->connectedPeers().contains(hostID);
    });
}

ZNFPeerError PeerPair::sendAndWait(const QString& path, const std::optional<ZNFPeerID>& to,
                                   const std::function<void(ZNFProgress&)>& started) {
    CompletionProbe probe;
    auto progress = hostSession->sendResourceAtURL(QUrl::fromLocalFile(path), QFileInfo(path).fileName(),
                                                   to.value_or(guestID), probe.callback());
    if (progress && started)
        started(*progress);
    if (!probe.wait(60000)) // fifty megabytes through a responder's namespace on a busy machine
        return ZNFPeerError(ZNFPeerError::TimedOut, "the sender never completed");
    return probe.error();
}

QByteArray rawInvite(const QString& id, const QString& name, const QByteArray& nonce) {
    const QByteArray commitment = nonce.isEmpty() ? QByteArray() : ZNFSha256::hash(nonce);
    return rawFrame(ZNFPeerFrame::Invite, QByteArray(1, char(ZNFPeerFrame::kProtocolVersion)) +
                                              rawString(id) + rawString(name) + QByteArray(1, char(0)) +
                                              rawU32(0) + rawU32(quint32(commitment.size())) + commitment);
}

std::unique_ptr<QSslSocket> connectRawTls(quint16 port, const ZNFPeerIdentity& identity,
                                          QSsl::SslProtocol protocol) {
    auto socket = std::make_unique<QSslSocket>();
    socket->setProtocol(protocol);
    socket->setLocalCertificate(identity.certificate());
    socket->setPrivateKey(identity.key());
    socket->setPeerVerifyMode(QSslSocket::VerifyNone);
    socket->connectToHostEncrypted(QStringLiteral("127.0.0.1"), port);
    if (!socket->waitForEncrypted(5000))
        return nullptr;
    return socket;
}

std::unique_ptr<QTcpServer> listenRaw(const ZNFPeerIdentity* identity) {
    std::unique_ptr<QTcpServer> server;
    if (identity) {
        auto ssl = std::make_unique<QSslServer>();
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setProtocol(QSsl::TlsV1_3);
        configuration.setLocalCertificate(identity->certificate());
        configuration.setPrivateKey(identity->key());
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        ssl->setSslConfiguration(configuration);
        server = std::move(ssl);
    } else {
        server = std::make_unique<QTcpServer>();
    }
    if (!server->listen(QHostAddress::LocalHost))
        qFatal("cannot listen on 127.0.0.1");
    return server;
}

std::unique_ptr<QTcpSocket> connectRaw(quint16 port, const QHostAddress& source) {
    auto socket = std::make_unique<QTcpSocket>();
    if (!source.isNull())
        socket->bind(source);
    socket->connectToHost(QHostAddress::LocalHost, port);
    socket->waitForConnected(2000);
    return socket;
}

quint8 nextFrame(QTcpSocket& socket, QByteArray* payload, int timeoutMs) {
    auto need = [&](qint64 n) {
        while (socket.bytesAvailable() < n)
            if (!socket.waitForReadyRead(timeoutMs))
                return false;
        return true;
    };
    if (!need(5))
        return 0;
    const QByteArray header = socket.read(5);
    const quint32 length = qFromBigEndian<quint32>(header.constData());
    if (!need(length))
        return 0;
    const QByteArray read = socket.read(length);
    if (payload)
        *payload = read;
    return quint8(header.at(4));
}

bool waitClosed(QTcpSocket& socket, int timeoutMs) {
    if (socket.state() == QAbstractSocket::UnconnectedState)
        return true;
    socket.readAll();
    return socket.waitForDisconnected(timeoutMs) || socket.state() == QAbstractSocket::UnconnectedState;
}
