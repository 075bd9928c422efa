#include "platform/peer/ZNFPeerConnection_p.h"

#include "platform/peer/ZNFPeerLimits.h"

#include <QPointer>
#include <QStringDecoder>
#include <QTcpSocket>
#include <QTimer>
#include <QtEndian>

ZNFPeerLimits& ZNFPeerLimits::current() {
    static ZNFPeerLimits limits;
    return limits;
}

// --- payload building and parsing ---

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

// --- the link ---

ZNFPeerConnection::ZNFPeerConnection(QTcpSocket* socket, QObject* parent)
    : QObject(parent), m_socket(socket) {
    m_socket->setParent(this);
    // Bounded so that a fast sender cannot make us buffer without limit: TCP pushes back.
    m_socket->setReadBufferSize(qMax<qint64>(ZNFPeerLimits::current().readBufferBytes,
                                             qint64(ZNFPeerLimits::current().maxFramePayload) * 2 + 64));
    m_socket->setSocketOption(QAbstractSocket::LowDelayOption, 1);
    connect(m_socket, &QTcpSocket::readyRead, this, [this] { readFrames(); });
    connect(m_socket, &QTcpSocket::bytesWritten, this, [this] {
        if (!m_closed && onDrained && bytesToWrite() < ZNFPeerLimits::current().writeHighWater)
            onDrained();
    });
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

void ZNFPeerConnection::send(quint8 type, const QByteArray& payload) {
    if (m_closed)
        return;
    char header[ZNFPeerFrame::kHeaderBytes];
    qToBigEndian(quint32(payload.size()), header);
    header[4] = char(type);
    m_socket->write(header, ZNFPeerFrame::kHeaderBytes);
    m_socket->write(payload);
}

qint64 ZNFPeerConnection::bytesToWrite() const {
    return m_socket->bytesToWrite();
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

void ZNFPeerConnection::closeGracefully() {
    if (m_closed)
        return;
    m_closed = true;
    clearDeadline();
    m_socket->disconnect(this);
    onFrame = nullptr;
    onClosed = nullptr;
    onDrained = nullptr;
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
    m_socket->disconnect(this);
    m_socket->abort();
    if (report && onClosed) {
        // The handler may drop the last reference to this object: keep the callable alive.
        auto handler = onClosed;
        handler(error);
    }
}

void ZNFPeerConnection::readFrames() {
    if (m_reading)
        return; // a frame handler that resumes us must not recurse
    m_reading = true;
    QPointer<ZNFPeerConnection> self(this);
    const int limit = ZNFPeerLimits::current().maxFramePayload;
    while (self && !m_closed && !m_paused && m_socket->bytesAvailable() >= ZNFPeerFrame::kHeaderBytes) {
        char header[ZNFPeerFrame::kHeaderBytes];
        m_socket->peek(header, ZNFPeerFrame::kHeaderBytes);
        const quint32 length = qFromBigEndian<quint32>(header);
        if (length > quint32(limit)) {
            m_reading = false;
            fail(ZNFPeerError(
                ZNFPeerError::ProtocolError,
                QStringLiteral("frame of %1 bytes is over the limit of %2").arg(length).arg(limit)));
            return;
        }
        if (m_socket->bytesAvailable() < qint64(ZNFPeerFrame::kHeaderBytes) + qint64(length))
            break;
        m_socket->skip(ZNFPeerFrame::kHeaderBytes);
        const QByteArray payload = m_socket->read(qint64(length));
        if (onFrame) {
            auto handler = onFrame;
            handler(quint8(header[4]), payload);
        }
    }
    if (self)
        m_reading = false;
}
