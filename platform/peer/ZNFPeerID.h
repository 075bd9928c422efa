#pragma once

#include <QHashFunctions>
#include <QString>

// A peer: the name people see plus an identity that is unique per peer object. Two ids are
// equal when they name the same peer, whatever their display names say.
class ZNFPeerID {
public:
    // The null id ("nil").
    ZNFPeerID() = default;
    // A new peer with a fresh unique id. Display names are kept to 63 bytes of UTF-8.
    explicit ZNFPeerID(const QString& displayName);
    // A peer seen on the network, with the id it announced.
    ZNFPeerID(const QString& displayName, const QString& uniqueID);

    QString displayName() const { return m_displayName; }
    QString uniqueID() const { return m_uniqueID; }
    bool isNull() const { return m_uniqueID.isEmpty(); }
    // What logs show for the peer.
    QString description() const;

    bool operator==(const ZNFPeerID& other) const { return m_uniqueID == other.m_uniqueID; }
    bool operator!=(const ZNFPeerID& other) const { return !(*this == other); }

    // The computer's name as people know it, or "" when there is none.
    static QString localHostName();

private:
    QString m_displayName;
    QString m_uniqueID;
};

inline size_t qHash(const ZNFPeerID& peer, size_t seed = 0) {
    return qHash(peer.uniqueID(), seed);
}
