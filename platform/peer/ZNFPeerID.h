#pragma once

#include <QHashFunctions>
#include <QString>
#include <memory>

class ZNFPeerIdentity;

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
    // The local peer of an installation: its unique id is the identity's fingerprint, and its
    // links are encrypted with that identity.
    ZNFPeerID(const QString& displayName, std::shared_ptr<const ZNFPeerIdentity> identity);

    QString displayName() const { return m_displayName; }
    QString uniqueID() const { return m_uniqueID; }
    bool isNull() const { return m_uniqueID.isEmpty(); }
    // Set on a local peer that has an identity.
    std::shared_ptr<const ZNFPeerIdentity> identity() const { return m_identity; }
    // On a peer reported by an encrypted link: the six digits ("123 456") both sides derived
    // for that link, to be compared by the people holding the devices. Empty otherwise.
    QString verificationCode() const { return m_code; }
    void setVerificationCode(const QString& code) { m_code = code; }
    // What logs show for the peer.
    QString description() const;

    bool operator==(const ZNFPeerID& other) const { return m_uniqueID == other.m_uniqueID; }
    bool operator!=(const ZNFPeerID& other) const { return !(*this == other); }

    // The computer's name as people know it, or "" when there is none.
    static QString localHostName();

private:
    QString m_displayName;
    QString m_uniqueID;
    std::shared_ptr<const ZNFPeerIdentity> m_identity;
    QString m_code;
};

inline size_t qHash(const ZNFPeerID& peer, size_t seed = 0) {
    return qHash(peer.uniqueID(), seed);
}
