#pragma once

#include <QtGlobal>

// Bounds on what one peer may make this layer hold or wait for. Process-wide; tests lower
// the time limits to keep themselves fast. Change them only while no transfer runs.
struct ZNFPeerLimits {
    // Largest frame payload accepted from the network; a larger header closes the link.
    int maxFramePayload = (1 << 20) + 4096;
    // File bytes per resource chunk frame.
    int chunkBytes = 512 * 1024;
    // Unsent bytes a link may queue before file reading pauses: keeps memory flat while
    // leaving enough in flight that a busy machine's scheduling delays do not stall the link.
    qint64 writeHighWater = 8 << 20;
    // Received bytes a link buffers before TCP pushes back on the sender.
    qint64 readBufferBytes = 8 << 20;
    // Names of resources and peers, in UTF-8 bytes. Names are never used as paths here.
    int maxNameBytes = 1024;
    // Invitation context data.
    int maxContextBytes = 64 * 1024;
    // A connection must present its invitation within this time.
    int handshakeTimeoutMs = 10000;
    // An invitation the delegate does not answer is closed after this time.
    int replyTimeoutMs = 120000;
    // Connections waiting to present or have answered an invitation, per advertiser.
    int maxPendingConnections = 16;
    // Resources one link may be receiving at once.
    int maxIncomingTransfers = 8;

    static ZNFPeerLimits& current();
};
