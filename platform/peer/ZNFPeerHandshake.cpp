#include "platform/peer/ZNFPeerSession_p.h"

#include "platform/peer/ZNFPeerConnection_p.h"
#include "platform/peer/ZNFPeerErrors_p.h"
#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFPeerLog.h"
#include "platform/peer/ZNFSha256.h"

#include <QRandomGenerator>
#include <QSslSocket>
#include <QTcpSocket>

// How a session's links come to be: the invitation it sends (committing to a nonce on an
// encrypted link), the invited side's nonce, the reveal and the code both sides derive, and
// the answer; or an accepted invitation the advertiser hands over.

using namespace ZNFPeerErrors;

void ZNFPeerSession::Core::connectTo(const ZNFPeerID& peer, const QHostAddress& address, quint16 port,
                                     const QByteArray& context, int timeoutMs) {
    if (!peer.isNull() && hasLinkTo(peer)) {
        qCInfo(lcPeer()).noquote() << QStringLiteral("Not inviting %1: this session already has a link to it")
                                          .arg(peer.description());
        return;
    }
    if (atLinkLimit()) {
        qCInfo(lcPeer()).noquote() << QStringLiteral(
                                          "Not inviting %1: this session holds as many links as it may")
                                          .arg(peer.description());
        notifyState(peer, State::NotConnected);
        return;
    }
    const auto identity = m_me.identity();
    auto* socket = identity ? new QSslSocket : new QTcpSocket;
    auto* connection = new ZNFPeerConnection(socket, this);
    // Only the key discovery announced for the peer is accepted, when it announced one.
    if (identity)
        connection->startTls(*identity, false, peer.uniqueID());
    ZNFPeerLink* link = newLink(connection, peer);
    // Covers everything up to the answer, whatever the transport has to settle first.
    connection->setDeadline(
        timeoutMs,
        ZNFPeerError(ZNFPeerError::TimedOut, QStringLiteral("the invitation was not answered in time")));
    connect(connection, &ZNFPeerConnection::established, this, [this, connection, link, context] {
        ZNFFrameWriter invite;
        invite.u8(ZNFPeerFrame::kProtocolVersion).string(m_me.uniqueID()).string(m_me.displayName());
        invite.u8(context.isNull() ? 0 : 1).bytes(context);
        if (connection->isEncrypted()) {
            // Committed to now, revealed once the other side's nonce is in.
            link->nonce.resize(ZNFPeerCode::kNonceBytes);
            QRandomGenerator::system()->generate(link->nonce.begin(), link->nonce.end());
            invite.bytes(ZNFSha256::hash(link->nonce));
        } else {
            invite.bytes({});
        }
        connection->send(ZNFPeerFrame::Invite, invite.payload());
    });
    notifyState(link->peer, State::Connecting);
    socket->connectToHost(address, port);
}

void ZNFPeerSession::Core::invitationFailed(const ZNFPeerID& peer) {
    notifyState(peer, State::NotConnected);
}

void ZNFPeerSession::Core::adopt(ZNFPeerConnection* connection, const ZNFPeerID& peer) {
    connection->setParent(this);
    if (!connection->isOpen()) {
        connection->deleteLater();
        notifyState(peer, State::NotConnected);
        return;
    }
    // A second link claiming a peer we already have is not that peer as far as we know:
    // it gets nothing, and the peer's own link and handlers hear nothing of it.
    const bool impostor = hasLinkTo(peer);
    if (impostor || atLinkLimit()) {
        qCInfo(lcPeer()).noquote()
            << QStringLiteral("Declined %1: %2")
                   .arg(peer.description(),
                        impostor ? QStringLiteral("this session already has a link to a peer of that id")
                                 : QStringLiteral("this session holds as many links as it may"));
        connection->send(ZNFPeerFrame::Decline);
        connection->closeGracefully();
        if (!impostor)
            notifyState(peer, State::NotConnected);
        return;
    }
    ZNFPeerLink* link = newLink(connection, peer);
    notifyState(peer, State::Connecting);
    if (!connection->isOpen())
        return;
    connection->send(ZNFPeerFrame::Accept,
                     ZNFFrameWriter().string(m_me.uniqueID()).string(m_me.displayName()).payload());
    becomeConnected(link);
    connection->resume();
}

void ZNFPeerSession::Core::onInvitationAnswer(ZNFPeerLink* link, quint8 type, const QByteArray& payload) {
    const bool encrypted = link->connection->isEncrypted();
    if (type == ZNFPeerFrame::Nonce && encrypted && link->code.isEmpty()) {
        ZNFFrameReader reader(payload);
        const QByteArray theirs = reader.bytes(ZNFPeerCode::kNonceBytes);
        if (!reader.ok() || !reader.atEnd() || theirs.size() != ZNFPeerCode::kNonceBytes) {
            link->connection->fail(protocolError(QStringLiteral("malformed nonce")));
            return;
        }
        link->code =
            ZNFPeerCode::derive(m_me.uniqueID(), link->connection->peerFingerprint(), link->nonce, theirs);
        link->connection->send(ZNFPeerFrame::Reveal, ZNFFrameWriter().bytes(link->nonce).payload());
        return;
    }
    if (type == ZNFPeerFrame::Accept && encrypted && link->code.isEmpty()) {
        link->connection->fail(protocolError(QStringLiteral("accepted before the code was exchanged")));
        return;
    }
    if (type == ZNFPeerFrame::Decline) {
        link->connection->fail(
            ZNFPeerError(ZNFPeerError::Declined, QStringLiteral("the peer declined the invitation")));
        return;
    }
    if (type != ZNFPeerFrame::Accept) {
        link->connection->fail(
            protocolError(QStringLiteral("frame type %1 before the invitation was answered").arg(type)));
        return;
    }
    const int maxName = ZNFPeerLimits::current().maxNameBytes;
    ZNFFrameReader reader(payload);
    const QString id = reader.string(maxName);
    const QString name = reader.string(maxName);
    if (!reader.ok() || id.isEmpty() || (!link->peer.isNull() && link->peer.uniqueID() != id) ||
        (encrypted && id != link->connection->peerFingerprint())) {
        link->connection->fail(protocolError(QStringLiteral("the invitation was accepted by another peer")));
        return;
    }
    if (link->peer.isNull()) {
        if (hasLinkTo(ZNFPeerID(name, id), link)) {
            link->connection->fail(
                protocolError(QStringLiteral("the invitation was accepted by a peer already linked")));
            return;
        }
        link->peer = ZNFPeerID(name, id);
    }
    link->peer.setVerificationCode(link->code);
    link->connection->clearDeadline();
    becomeConnected(link);
}
