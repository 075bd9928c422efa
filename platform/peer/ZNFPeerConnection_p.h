#pragma once

#include "platform/peer/ZNFPeerError.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <functional>

class QTcpSocket;
class QTimer;

// Frame types of the wire protocol. Every frame is a 4-byte big-endian payload length, a
// type byte and the payload; integers inside payloads are big-endian too.
namespace ZNFPeerFrame {
enum Type : quint8 {
    Invite = 1,         // version u8, peer id, display name, has-context u8, context bytes
    Accept = 2,         // peer id, display name
    Decline = 3,        // (empty)
    Data = 4,           // bytes
    ResourceBegin = 5,  // transfer u32, name, size u64
    ResourceChunk = 6,  // transfer u32, file bytes (rest of the frame)
    ResourceEnd = 7,    // transfer u32, sender's SHA-256 (32 bytes)
    ResourceResult = 8, // transfer u32, error code u32 (0 = stored), stored size u64, stored SHA-256
    ResourceAbort = 9,  // transfer u32
};
constexpr quint8 kProtocolVersion = 1;
constexpr int kHeaderBytes = 5;
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

// One TCP link speaking frames. Lives on one layer thread; moving it to another (handing an
// accepted invitation to a session) is done from its current thread while it is paused.
class ZNFPeerConnection : public QObject {
public:
    explicit ZNFPeerConnection(QTcpSocket* socket, QObject* parent = nullptr);
    ~ZNFPeerConnection() override;

    QTcpSocket* socket() const { return m_socket; }
    bool isOpen() const { return !m_closed; }

    void send(quint8 type, const QByteArray& payload);
    qint64 bytesToWrite() const;

    // While paused, received frames wait in the socket's buffer.
    void setPaused(bool paused);
    // Delivers frames already buffered (after resuming or after a move).
    void resume();

    // A time limit for the current phase; on expiry the link closes with the error.
    void setDeadline(int milliseconds, const ZNFPeerError& error);
    void clearDeadline();

    // Sends what is queued, then closes and deletes itself. No callback follows.
    void closeGracefully();
    // Closes at once and reports the error through onClosed.
    void fail(const ZNFPeerError& error);

    std::function<void(quint8 type, const QByteArray& payload)> onFrame;
    std::function<void(const ZNFPeerError& error)> onClosed;
    // The write queue fell below the high-water mark.
    std::function<void()> onDrained;

private:
    void readFrames();
    void finish(const ZNFPeerError& error, bool report);

    QTcpSocket* m_socket;
    QTimer* m_deadline = nullptr;
    ZNFPeerError m_deadlineError;
    bool m_paused = false;
    bool m_closed = false;
    bool m_reading = false;
};
