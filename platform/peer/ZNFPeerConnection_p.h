#pragma once

#include "platform/peer/ZNFPeerError.h"

#include <QByteArray>
#include <QHostAddress>
#include <QObject>
#include <QString>
#include <vector>

class QTcpSocket;
class QSslSocket;
class QTimer;
class ZNFPeerIdentity;

// Frame types of the wire protocol. Every frame is a 4-byte big-endian payload length, a
// type byte and the payload; integers inside payloads are big-endian too.
namespace ZNFPeerFrame {
enum Type : quint8 {
    Invite = 1,         // version u8, peer id, display name, has-context u8, context bytes
    Accept = 2,         // peer id, display name
    Decline = 3,        // (empty)
    Data = 4,           // bytes
    ResourceBegin = 5,  // transfer u32 (each larger than the last), name, size u64
    ResourceChunk = 6,  // transfer u32, file bytes (rest of the frame)
    ResourceEnd = 7,    // transfer u32, sender's SHA-256 (32 bytes)
    ResourceResult = 8, // transfer u32, error code u32 (0 = stored), stored size u64, stored SHA-256
    ResourceAbort = 9,  // transfer u32
    Keepalive = 10,     // (empty): sent by a connected side that has said nothing for a while
    Nonce = 11,         // the invited side's nonce, answering an invitation's commitment
    Reveal = 12,        // the inviter's nonce, whose SHA-256 the invitation committed to
};
// 2: invitations carry a commitment (empty on plain links) after the context.
constexpr quint8 kProtocolVersion = 2;
constexpr int kHeaderBytes = 5;
constexpr int kDigestBytes = 32;
// What a chunk frame carries before its file bytes: the header and the transfer number.
constexpr int kChunkPrefixBytes = kHeaderBytes + 4;

void writeHeader(char* out, quint8 type, quint32 payloadLength);
} // namespace ZNFPeerFrame

// Builds a frame payload.
class ZNFFrameWriter {
public:
    ZNFFrameWriter& u8(quint8 value);
    ZNFFrameWriter& u32(quint32 value);
    ZNFFrameWriter& u64(quint64 value);
    // A u32 length, then the bytes.
    ZNFFrameWriter& bytes(const QByteArray& value);
    ZNFFrameWriter& string(const QString& value) { return bytes(value.toUtf8()); }
    // The bytes as they are, no length: only as the last field.
    ZNFFrameWriter& raw(const QByteArray& value);
    const QByteArray& payload() const { return m_data; }

private:
    QByteArray m_data;
};

// Reads a frame payload; any read past the end or over a limit clears ok() and returns zero
// values, so a parser can read all fields and check once.
class ZNFFrameReader {
public:
    explicit ZNFFrameReader(const QByteArray& data) : m_data(data) {}
    quint8 u8();
    quint32 u32();
    quint64 u64();
    QByteArray bytes(int maxLength);
    // Fails on invalid UTF-8 as well.
    QString string(int maxBytes);
    QByteArray rest();
    bool ok() const { return m_ok; }
    bool atEnd() const { return m_pos == m_data.size(); }

private:
    bool take(qsizetype count);
    const QByteArray& m_data;
    qsizetype m_pos = 0;
    bool m_ok = true;
};

// Frame-sized buffers used again once nobody else holds a reference: the socket's write
// queue and the workers share them instead of copying, and a steady transfer allocates
// nothing. Used from one thread at a time.
class ZNFBufferPool {
public:
    explicit ZNFBufferPool(int keep) : m_keep(keep) {}
    // A buffer of `size` bytes that only the caller holds besides the pool; `data` points at
    // its bytes for filling before the buffer is handed on.
    QByteArray take(qsizetype size, char** data);

private:
    std::vector<QByteArray> m_buffers;
    int m_keep;
};

// One link speaking frames over a TCP socket, or anything built on QTcpSocket (a secure
// transport settles inside it and reports established() when frames may flow). Lives on one
// layer thread; moving it to another (handing an accepted invitation to a session) is done
// from its current thread while it is paused.
class ZNFPeerConnection : public QObject {
    Q_OBJECT
public:
    explicit ZNFPeerConnection(QTcpSocket* socket, QObject* parent = nullptr);
    ~ZNFPeerConnection() override;

    QTcpSocket* socket() const { return m_socket; }
    bool isOpen() const { return !m_closed; }
    QHostAddress peerAddress() const;

    // Encrypts the link with TLS 1.3 before any frame moves, both sides presenting their
    // identity's self-signed certificate. The socket must be a QSslSocket; the side that
    // connects calls this before connecting. `expectedFingerprint`, when set, is the only
    // peer key accepted. established() then means the handshake is done.
    void startTls(const ZNFPeerIdentity& identity, bool server, const QString& expectedFingerprint = {});
    bool isEncrypted() const { return m_tls; }
    // The fingerprint of the key the peer proved it holds; empty on plain links.
    QString peerFingerprint() const { return m_peerFingerprint; }

    // One write per frame: the header goes out with the payload.
    void send(quint8 type, const QByteArray& payload = {});
    // A frame laid out whole (header included) in a buffer of its own: queued without a copy.
    void sendFrame(const QByteArray& frame);
    // Bytes queued and not yet on the network: on a TLS link, records encrypted as well.
    qint64 bytesToWrite() const;

    // While paused, received frames wait in the socket's buffer.
    void setPaused(bool paused);
    // Delivers frames already buffered (after resuming or after a move).
    void resume();

    // A time limit for the current phase; on expiry the link closes with the error.
    void setDeadline(int milliseconds, const ZNFPeerError& error);
    void clearDeadline();
    // From now on: a keepalive frame whenever this side has sent nothing for `intervalMs`,
    // and idle() whenever no bytes have moved either way for `idleMs`. Keepalives from the
    // peer count as bytes moving; our own do not.
    void setKeepalive(int intervalMs, int idleMs);

    // Sends what is queued, then closes and deletes itself. No signal follows.
    void closeGracefully();
    // Closes at once and reports the error through closed().
    void fail(const ZNFPeerError& error);

signals:
    void established();
    void frameReceived(quint8 type, const QByteArray& payload);
    void closed(const ZNFPeerError& error);
    // The write queue fell below the high-water mark.
    void drained();
    void idle();

private:
    void readFrames();
    void finish(const ZNFPeerError& error, bool report);
    void wroteBytes(qint64 count);
    void emitIfDrained();
    void sent();

    QTcpSocket* m_socket;
    bool m_tls = false;
    bool m_server = false;
    QString m_expectedFingerprint;
    QString m_peerFingerprint;
    QTimer* m_deadline = nullptr;
    ZNFPeerError m_deadlineError;
    QTimer* m_keepalive = nullptr;
    QTimer* m_idle = nullptr;
    qint64 m_keepaliveBytesQueued = 0;
    QByteArray m_sendBuffer;
    ZNFBufferPool m_readPool;
    // The frame being read: its header, then its payload as far as it has come.
    char m_header[ZNFPeerFrame::kHeaderBytes] = {};
    int m_headerFilled = 0;
    QByteArray m_payload;
    char* m_payloadData = nullptr;
    qint64 m_payloadFilled = 0;
    bool m_paused = false;
    bool m_closed = false;
    bool m_reading = false;
};
