#pragma once

#include <QByteArray>
#include <memory>

// Incremental SHA-256. Uses the system's libcrypto when the build found it (it uses the
// CPU's SHA instructions, several times faster than QCryptographicHash), else Qt's.
class ZNFSha256 {
public:
    ZNFSha256();
    ~ZNFSha256();
    ZNFSha256(const ZNFSha256&) = delete;
    ZNFSha256& operator=(const ZNFSha256&) = delete;

    void addData(const char* data, qint64 length);
    void addData(const QByteArray& data) { addData(data.constData(), data.size()); }
    // The 32-byte digest; the object is spent afterwards.
    QByteArray result();

    static QByteArray hash(const QByteArray& data);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};
