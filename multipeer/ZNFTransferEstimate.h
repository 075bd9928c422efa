#pragma once

#include <QElapsedTimer>
#include <QtGlobal>

// How long the rest of a transfer will take, from its average rate since the first report. The
// first moments of a link say little, so there is no estimate before a second has passed.
class ZNFTransferEstimate {
public:
    // The seconds left after `done` of `total` bytes, or -1 while there is no fair estimate.
    qint64 update(qint64 done, qint64 total);
    // The same with the time since the first report given, for callers that keep their own clock.
    qint64 update(qint64 done, qint64 total, qint64 elapsedMs);

    // The time left as people read it: whole minutes, rounded up; 0 for less than a minute.
    static qint64 minutesLeft(qint64 secondsLeft) { return secondsLeft < 60 ? 0 : (secondsLeft + 59) / 60; }

    // A redraw of progress at most this often: more would only cost the link time.
    static constexpr int kRedrawIntervalMs = 100;
    // Whether a report should be shown now: the first, the last, and then one per interval.
    bool shouldRedraw(qint64 done, qint64 total);

private:
    QElapsedTimer m_clock;
    QElapsedTimer m_lastRedraw;
    qint64 m_firstDone = -1;
};
