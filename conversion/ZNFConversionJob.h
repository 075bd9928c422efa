#pragma once

#include "conversion/ZNFConversionOutcome.h"

#include <QMetaType>
#include <QObject>
#include <functional>
#include <memory>

Q_DECLARE_METATYPE(ZNFConversionOutcome)

// One conversion of any source, run off the main thread. Made on the main thread, where its
// signals arrive: progress(done, total) while the work runs, in the order reported, then
// finished(outcome) once, unless the job was cancelled first. Runs are processed one after
// another, because every source writes its archive under a fixed name in the caches folder: a
// late run must never rename its archive over a newer one.
//
//   auto* job = new ZNFConversionJob([path](const auto& progress, const auto& cancelled) {
//       return ZNFVesperNoteImporter::convert(path, progress, cancelled);
//   }, this);
//   connect(job, &ZNFConversionJob::finished, this, &Flow::showOutcome);
//   job->start();
class ZNFConversionJob : public QObject {
    Q_OBJECT
public:
    // A source's convert(): reports progress on its own thread and stops between notes once the
    // flag is set, removing its partial files.
    using Work = std::function<ZNFConversionOutcome(const ZNFConversionProgressHandler&,
                                                    const ZNFConversionCancelFlag&)>;

    explicit ZNFConversionJob(Work work, QObject* parent = nullptr);
    // Cancels a run that has not finished: nobody is left to be told its outcome.
    ~ZNFConversionJob() override;

    // Hands the work to the conversion thread; once per job (later calls do nothing). A job
    // cancelled before it starts never runs.
    void start();
    // Stops the run: no progress or finished comes after this call, and the work, if it has
    // begun, ends at its next note and removes what it wrote. Safe to call more than once.
    void cancel();
    bool isStarted() const { return m_started; }
    bool isCancelled() const { return m_cancelled->load(); }
    // Started, not yet finished and not cancelled.
    bool isRunning() const { return m_started && !m_ended && !isCancelled(); }
    // The flag the work sees; setting it from any thread is the same as cancel().
    ZNFConversionCancelFlag cancelFlag() const { return m_cancelled; }
    // The job deletes itself (deleteLater) once its run has ended, finished or cancelled.
    void setAutoDelete(bool autoDelete) { m_autoDelete = autoDelete; }

    // Waits (at most `ms`) until every run handed to the conversion thread has ended,
    // cancelled ones included; quitting calls it so that no partial file outlives the process.
    static bool waitForRuns(int ms);

signals:
    void progress(qint64 done, qint64 total);
    void finished(const ZNFConversionOutcome& outcome);

private:
    struct Shared;
    void deliverProgress();
    void deliverOutcome(const ZNFConversionOutcome& outcome);

    Work m_work;
    ZNFConversionCancelFlag m_cancelled;
    std::shared_ptr<Shared> m_shared;
    bool m_started = false;
    bool m_ended = false;
    bool m_autoDelete = false;
};
