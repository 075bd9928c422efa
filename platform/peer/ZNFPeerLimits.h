#pragma once

#include <QtGlobal>

// The largest resource a peer may announce: past any real library (a few hundred photos as PNG
// make several gigabytes), still a bound. What the disk can hold is checked apart.
inline constexpr qint64 ZNFPeerLimits_maxResourceBytes = qint64(1) << 40;

// Bounds on what one peer may make this layer hold or wait for. Process-wide; tests lower
// the time limits to keep themselves fast. Change them only while no transfer runs.
struct ZNFPeerLimits {
    // Largest frame payload accepted from the network; a larger header closes the link.
    int maxFramePayload = (1 << 20) + 4096;
    // File bytes per resource chunk frame.
    int chunkBytes = 512 * 1024;
    // Unsent bytes a link may queue before file reading pauses. The kernel's socket buffer
    // holds several megabytes more, so this only has to cover scheduling delays; it is also
    // most of what a link whose peer never reads can make us hold.
    qint64 writeHighWater = 2 << 20;
    // Received bytes a link buffers before TCP pushes back on the sender.
    qint64 readBufferBytes = 2 << 20;
    // Chunks read ahead of the socket (sending) or waiting to be stored (receiving) per
    // resource, handled off the link's thread so that hashing overlaps the network.
    int pipelineChunks = 4;
    // Names of resources and peers on the wire, in UTF-8 bytes. Resource names must pass
    // ZNFResourceName as well.
    int maxNameBytes = 1024;
    // Invitation context data.
    int maxContextBytes = 64 * 1024;
    // A connection must present its invitation within this time, counted from the moment it
    // was accepted, whatever the transport has to settle first.
    int handshakeTimeoutMs = 10000;
    // An invitation the delegate does not answer is closed after this time.
    int replyTimeoutMs = 120000;
    // Connections waiting to present or have answered an invitation, per advertiser, and of
    // those per source address. When either is reached the oldest is dropped, not the
    // newcomer: idle sockets cannot keep a real phone out.
    int maxPendingConnections = 16;
    int maxPendingPerAddress = 4;
    // Links one session holds at once, connecting or connected.
    int maxLinksPerSession = 8;
    // Resources one link may be receiving at once.
    int maxIncomingTransfers = 4;
    // Largest resource accepted, and what must stay free on the disk that receives it.
    qint64 maxResourceBytes = ZNFPeerLimits_maxResourceBytes;
    qint64 freeSpaceMarginBytes = qint64(64) << 20;
    // A connected link with a transfer under way is cut when no bytes moved either way for
    // this long. Both sides send a keepalive after keepaliveIntervalMs of saying nothing, so
    // a healthy link always has something moving.
    int idleTimeoutMs = 30000;
    int keepaliveIntervalMs = 10000;

    static ZNFPeerLimits& current();
};
