#include "platform/peer/ZNFPeerConnection_p.h"

#include "platform/peer/ZNFPeerIdentity.h"
#include "platform/peer/ZNFPeerLimits.h"
#include "platform/peer/ZNFPeerLog.h"

#include <QPointer>
#include <QSslConfiguration>
#include <QSslSocket>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

ZNFPeerLimits& ZNFPeerLimits::current() {
    static ZNFPeerLimits limits;
    return limits;
}

// --- frames and payloads ---

void ZNFPeerFrame::writeHeader(char* out, quint8 type, quint32 payloadLength) {
    qToBigEndian(payloadLength, out);
    out[4] = char(type);
}

ZNFFrameWriter& ZNFFrameWriter::u8(quint8 value) {
    m_data.append(char(value));
    return *this;
}

ZNFFrameWriter& ZNFFrameWriter::u32(quint32 value) {
    char buffer[4];
    qToBigEndian(value, buffer);
    m_data.append(buffer, 4);
    return *this;
}

ZNFFrameWriter& ZNFFrameWriter::u64(quint64 value) {
    char buffer[8];
    qToBigEndian(value, buffer);
    m_data.append(buffer, 8);
    return *this;
}

ZNFFrameWriter& ZNFFrameWriter::bytes(const QByteArray& value) {
    u32(quint32(value.size()));
    m_data.append(value);
    return *this;
}

ZNFFrameWriter& ZNFFrameWriter::raw(const QByteArray& value) {
    m_data.append(value);
    return *this;
}

bool ZNFFrameReader::take(qsizetype count) {
    if (!m_ok || count < 0 || m_data.size() - m_pos < count) {
        m_ok = false;
        return false;
    }
    return true;
}

quint8 ZNFFrameReader::u8() {
    if (!take(1))
        return 0;
    return quint8(m_data.at(m_pos++));
}

quint32 ZNFFrameReader::u32() {
    if (!take(4))
        return 0;
    const quint32 value = qFromBigEndian<quint32>(m_data.constData() + m_pos);
    m_pos += 4;
    return value;
}

quint64 ZNFFrameReader::u64() {
    if (!take(8))
        return 0;
    const quint64 value = qFromBigEndian<quint64>(m_data.constData() + m_pos);
    m_pos += 8;
    return value;
}

QByteArray ZNFFrameReader::bytes(int maxLength) {
    const quint32 length = u32();
    if (!m_ok || length > quint32(maxLength) || !take(qsizetype(length))) {
        m_ok = false;
        return {};
    }
    const QByteArray value = m_data.mid(m_pos, qsizetype(length));
    m_pos += qsizetype(length);
    return value;
}

QString ZNFFrameReader::string(int maxBytes) {
    const QByteArray utf8 = bytes(maxBytes);
    if (!m_ok)
        return {};
    QStringDecoder decoder(QStringDecoder::Utf8);
    QString value = decoder(utf8);
    if (decoder.hasError()) {
        m_ok = false;
        return {};
    }
    return value;
}

QByteArray ZNFFrameReader::rest() {
    if (!m_ok)
        return {};
    const QByteArray value = m_data.mid(m_pos);
    m_pos = m_data.size();
    return value;
}

QByteArray ZNFBufferPool::take(qsizetype size, char** data) {
    if (size == 0) {
        *data = nullptr;
        return {};
    }
    for (QByteArray& buffer : m_buffers) {
        if (buffer.isDetached()) {
            buffer.resize(size); // keeps its capacity: no allocation once warmed up
            *data = buffer.data();
            return buffer;
        }
    }
    QByteArray fresh(size, Qt::Uninitialized);
    *data = fresh.data();
    if (int(m_buffers.size()) < m_keep)
        m_buffers.push_back(fresh);
    return fresh;
}

// --- the link ---

namespace {
// Payloads at least this large are handed to the socket as a buffer of their own (shared,
// not copied); smaller frames are assembled in one reused buffer and copied once.
constexpr qsizetype kShareAbove = 64 * 1024;
// Buffers a link keeps for the frames it reads: enough for the chunks the storing worker
// may still hold, plus the one being read.
int readPoolSize() {
    return ZNFPeerLimits::current().pipelineChunks + 2;
}
} // namespace

ZNFPeerConnection::ZNFPeerConnection(QTcpSocket* socket, QObject* parent)
    : QObject(parent), m_socket(socket), m_readPool(readPoolSize()) {
    m_socket->setParent(this);
    // Bounded so that a fast sender cannot make us buffer without limit: TCP pushes back.
    m_socket->setReadBufferSize(ZNFPeerLimits::current().readBufferBytes);
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        if (m_closed)
            return;
        if (m_tls)
            static_cast<QSslSocket*>(m_socket)->startClientEncryption();
        else
            emit established();
    });
    connect(m_socket, &QTcpSocket::readyRead, this, [this] {
        if (m_idle && m_idle->isActive())
            m_idle->start();
        readFrames();
    });
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this](qint64 count) { wroteBytes(count); });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        // Frames that arrived just before the close still count.
        QPointer<ZNFPeerConnection> self(this);
        readFrames();
        if (!self)
            return;
        finish(ZNFPeerError(ZNFPeerError::ConnectionLost, QStringLiteral("the peer closed the connection")),
               true);
    });
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError) {
        finish(ZNFPeerError(ZNFPeerError::ConnectionLost, m_socket->errorString()), true);
    });
}

ZNFPeerConnection::~ZNFPeerConnection() {
    m_closed = true;
    m_socket->disconnect(this);
    m_socket->abort();
}

QHostAddress ZNFPeerConnection::peerAddress() const {
    return m_socket->peerAddress();
}

void ZNFPeerConnection::startTls(const ZNFPeerIdentity& identity, bool server,
                                 const QString& expectedFingerprint) {
    auto* ssl = qobject_cast<QSslSocket*>(m_socket);
    Q_ASSERT(ssl);
    m_tls = true;
    m_server = server;
    m_expectedFingerprint = expectedFingerprint;
    QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
    configuration.setProtocol(QSsl::TlsV1_3OrLater);
    configuration.setLocalCertificate(identity.certificate());
    configuration.setPrivateKey(identity.key());
    // Asks the client for its certificate as well; who it is gets checked here, not by a CA.
    configuration.setPeerVerifyMode(QSslSocket::VerifyPeer);
    configuration.setCaCertificates({});
    ssl->setSslConfiguration(configuration);
    // Devices have no CA and no host name: a self-signed certificate is expected, and taken
    // only when its key is the one this link is meant to reach.
    connect(ssl, &QSslSocket::sslErrors, this, [this, ssl](const QList<QSslError>& errors) {
        const QString fingerprint = ZNFPeerIdentity::fingerprintOf(ssl->peerCertificate());
        const bool expected = !fingerprint.isEmpty() &&
                              (m_expectedFingerprint.isEmpty() || fingerprint == m_expectedFingerprint);
        for (const QSslError& error : errors) {
            if (error.error() != QSslError::SelfSignedCertificate &&
                error.error() != QSslError::HostNameMismatch) {
                qCWarning(lcPeer()).noquote() << QStringLiteral("TLS refused: %1").arg(error.errorString());
                return;
            }
        }
        if (!expected) {
            qCWarning(lcPeer()).noquote()
                << QStringLiteral("TLS refused: the peer's key %1 is not the one expected").arg(fingerprint);
            return;
        }
        ssl->ignoreSslErrors(errors);
    });
    connect(ssl, &QSslSocket::encrypted, this, [this, ssl] {
        if (m_closed)
            return;
        m_peerFingerprint = ZNFPeerIdentity::fingerprintOf(ssl->peerCertificate());
        if (m_peerFingerprint.isEmpty() ||
            (!m_expectedFingerprint.isEmpty() && m_peerFingerprint != m_expectedFingerprint) ||
            ssl->sessionProtocol() != QSsl::TlsV1_3) {
            fail(ZNFPeerError(ZNFPeerError::ProtocolError,
                              QStringLiteral("the peer's key is not the one expected")));
            return;
        }
        emit established();
    });
    // Records reaching the network are what frees the write queue on an encrypted link.
    connect(ssl, &QSslSocket::encryptedBytesWritten, this, &ZNFPeerConnection::emitIfDrained);
    if (server)
        ssl->startServerEncryption();
}

void ZNFPeerConnection::send(quint8 type, const QByteArray& payload) {
    if (m_closed)
        return;
    const qsizetype total = ZNFPeerFrame::kHeaderBytes + payload.size();
    if (payload.size() >= kShareAbove) {
        QByteArray frame(total, Qt::Uninitialized);
        ZNFPeerFrame::writeHeader(frame.data(), type, quint32(payload.size()));
        memcpy(frame.data() + ZNFPeerFrame::kHeaderBytes, payload.constData(), size_t(payload.size()));
        m_socket->write(frame);
    } else {
        m_sendBuffer.resize(total);
        ZNFPeerFrame::writeHeader(m_sendBuffer.data(), type, quint32(payload.size()));
        if (!payload.isEmpty())
            memcpy(m_sendBuffer.data() + ZNFPeerFrame::kHeaderBytes, payload.constData(),
                   size_t(payload.size()));
        m_socket->write(m_sendBuffer.constData(), total);
    }
    sent();
}

void ZNFPeerConnection::sendFrame(const QByteArray& frame) {
    if (m_closed)
        return;
    m_socket->write(frame);
    sent();
}

void ZNFPeerConnection::sent() {
    if (m_keepalive)
        m_keepalive->start();
}

void ZNFPeerConnection::wroteBytes(qint64 count) {
    if (m_closed)
        return;
    // Our own keepalives leaving say nothing about the peer; anything else does.
    if (count > m_keepaliveBytesQueued && m_idle && m_idle->isActive())
        m_idle->start();
    m_keepaliveBytesQueued = qMax<qint64>(0, m_keepaliveBytesQueued - count);
    // A TLS socket reports bytes written once encrypted, before the records reach the queue
    // counted here; its encryptedBytesWritten() says when they leave.
    if (!m_tls)
        emitIfDrained();
}

void ZNFPeerConnection::emitIfDrained() {
    if (!m_closed && bytesToWrite() < ZNFPeerLimits::current().writeHighWater)
        emit drained();
}

// A TLS socket hands what it was given to its encryption at once and reports it written
// then; the records wait in its plain socket, and those count against the high water too.
qint64 ZNFPeerConnection::bytesToWrite() const {
    if (!m_tls)
        return m_socket->bytesToWrite();
    const auto* ssl = static_cast<const QSslSocket*>(m_socket);
    return ssl->bytesToWrite() + ssl->encryptedBytesToWrite();
}

void ZNFPeerConnection::setPaused(bool paused) {
    m_paused = paused;
}

void ZNFPeerConnection::resume() {
    m_paused = false;
    QPointer<ZNFPeerConnection> self(this);
    QTimer::singleShot(0, this, [self] {
        if (self)
            self->readFrames();
    });
}

void ZNFPeerConnection::setDeadline(int milliseconds, const ZNFPeerError& error) {
    if (!m_deadline) {
        m_deadline = new QTimer(this);
        m_deadline->setSingleShot(true);
        connect(m_deadline, &QTimer::timeout, this, [this] { fail(m_deadlineError); });
    }
    m_deadlineError = error;
    m_deadline->start(milliseconds);
}

void ZNFPeerConnection::clearDeadline() {
    if (m_deadline)
        m_deadline->stop();
}

void ZNFPeerConnection::setKeepalive(int intervalMs, int idleMs) {
    if (!m_keepalive) {
        m_keepalive = new QTimer(this);
        m_keepalive->setSingleShot(true);
        connect(m_keepalive, &QTimer::timeout, this, [this] {
            if (m_closed)
                return;
            m_keepaliveBytesQueued += ZNFPeerFrame::kHeaderBytes;
            send(ZNFPeerFrame::Keepalive);
        });
        m_idle = new QTimer(this);
        m_idle->setSingleShot(true);
        connect(m_idle, &QTimer::timeout, this, [this] {
            if (m_closed)
                return;
            m_idle->start(); // the session decides whether an idle link matters
            emit idle();
        });
    }
    m_keepalive->start(intervalMs);
    m_idle->start(idleMs);
}

void ZNFPeerConnection::closeGracefully() {
    if (m_closed)
        return;
    m_closed = true;
    clearDeadline();
    if (m_keepalive) {
        m_keepalive->stop();
        m_idle->stop();
    }
    m_socket->disconnect(this);
    disconnect(); // nobody hears from this link again
    // What is queued is still written; the object goes once the socket has closed.
    m_socket->disconnectFromHost();
    if (m_socket->state() == QAbstractSocket::UnconnectedState) {
        deleteLater();
        return;
    }
    connect(m_socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
    connect(m_socket, &QTcpSocket::errorOccurred, this, &QObject::deleteLater);
    QTimer::singleShot(30000, this, &QObject::deleteLater);
}

void ZNFPeerConnection::fail(const ZNFPeerError& error) {
    finish(error, true);
}

void ZNFPeerConnection::finish(const ZNFPeerError& error, bool report) {
    if (m_closed)
        return;
    m_closed = true;
    clearDeadline();
    if (m_keepalive) {
        m_keepalive->stop();
        m_idle->stop();
    }
    m_socket->disconnect(this);
    m_socket->abort();
    if (report)
        emit closed(error);
}

// Frames are assembled as their bytes arrive, so the socket's buffer is always emptied while
// reading goes on: a socket whose buffer filled up while we were paused only reads from the
// network again once its buffer has run dry.
void ZNFPeerConnection::readFrames() {
    if (m_reading)
        return; // a frame handler that resumes us must not recurse
    m_reading = true;
    QPointer<ZNFPeerConnection> self(this);
    while (self && !m_closed && !m_paused && m_socket->bytesAvailable() > 0) {
        if (m_headerFilled < ZNFPeerFrame::kHeaderBytes) {
            m_headerFilled +=
                int(m_socket->read(m_header + m_headerFilled, ZNFPeerFrame::kHeaderBytes - m_headerFilled));
            if (m_headerFilled < ZNFPeerFrame::kHeaderBytes)
                break;
            const quint32 length = qFromBigEndian<quint32>(m_header);
            const int limit = ZNFPeerLimits::current().maxFramePayload;
            if (length > quint32(limit)) {
                m_reading = false;
                fail(ZNFPeerError(
                    ZNFPeerError::ProtocolError,
                    QStringLiteral("frame of %1 bytes is over the limit of %2").arg(length).arg(limit)));
                return;
            }
            m_payload = m_readPool.take(qsizetype(length), &m_payloadData);
            m_payloadFilled = 0;
        }
        const qint64 wanted = m_payload.size() - m_payloadFilled;
        if (wanted > 0) {
            m_payloadFilled += qMax<qint64>(0, m_socket->read(m_payloadData + m_payloadFilled, wanted));
            if (m_payloadFilled < m_payload.size())
                break;
        }
        const quint8 type = quint8(m_header[4]);
        const QByteArray payload = std::move(m_payload);
        m_payload = QByteArray();
        m_headerFilled = 0;
        if (type != ZNFPeerFrame::Keepalive)
            emit frameReceived(type, payload);
    }
    if (self)
        m_reading = false;
}
