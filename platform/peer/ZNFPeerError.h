#pragma once

#include <QString>

// What the peer layer reports when something fails; a null error (code 0) means success.
class ZNFPeerError {
public:
    enum Code {
        None = 0,
        DiscoveryUnavailable, // no DNS-SD responder answered (the compat layer says -65537)
        DiscoveryFailed,      // the responder refused a registration or browse
        InvalidServiceType,   // not 1-15 lowercase letters, digits or hyphens
        ListenFailed,         // no port to accept invitations on
        NotConnected,         // the peer has no connection in this session
        Declined,             // the invited peer said no
        TimedOut,             // the invitation was not answered in time
        ConnectionLost,       // the peer went away
        ProtocolError,        // the peer sent something this layer does not accept
        FileError,            // reading or storing a resource failed
        SizeMismatch,         // the stored resource has another size than was sent
        HashMismatch,         // the stored resource has another SHA-256 than was sent
        Cancelled,            // the progress object was cancelled
        TooLarge,             // the data does not fit one frame, or a resource is over the size limit
        InvalidName,          // a resource name that no file may carry
        NoSpace,              // the receiving disk has not room for the resource
        LastCode = NoSpace,   // codes above this from a peer are read as FileError
        // Local only, never sent:
        IdentityDamaged, // this installation's identity files cannot be read
        PeerChanged,     // a remembered peer's name came with another key
    };

    ZNFPeerError() = default;
    ZNFPeerError(Code code, const QString& message) : m_code(code), m_message(message) {}

    bool isNull() const { return m_code == None; }
    Code code() const { return m_code; }
    QString message() const { return m_message; }
    // "nil" for success, else the code and message: what log lines show.
    QString description() const;

private:
    Code m_code = None;
    QString m_message;
};
