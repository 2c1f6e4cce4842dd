#pragma once

#include "browse/summary_notice.h"
#include "container/file_ops.h"
#include "workers/ordered_run.h"

#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <vector>

// The gallery's batch runs: delete, secure delete, rotate, encrypt and decrypt over a list of
// files. The file work runs on the worker pool; the window thread takes the results in list order,
// so what the user sees (status texts, progress, messages, reselection) comes in the same order
// as if the files were done one after another.
namespace quillix::gallery {

using browse::BatchNotice;

// The run's operation; the numbers are the operation codes.
enum class BatchOperation {
    None = 0,
    Delete = 1,
    SecureDelete = 2,
    RotateClockwise = 3,
    Encrypt = 4,
    Decrypt = 5,
    RotateCounterClockwise = 6,
};

// "Del: ", "SecDel: ", "Rot: ", "Enc: ", "Dec: "; empty for None.
const char* BatchStatusPrefix(BatchOperation operation);
// Whether the status names a file while it is worked on (delete and rotate) or once it is done
// (encrypt and decrypt).
bool StatusBeforeOperation(BatchOperation operation);
bool IsRotation(BatchOperation operation);

// What the work on one file gave.
struct FileOutcome {
    // Encrypt and decrypt: the file that holds the picture now; empty when it failed.
    std::string newPath;
    // Message boxes, in the order they are to be shown.
    std::vector<BatchNotice> notices;
    // One line for the summary after the run ("name: reason"); empty when there is nothing to tell.
    std::string note;
    // A refusal told in the status bar in place of the run's own line; empty when none.
    std::string statusNote;
    // A container was decrypted: the run's password is known good.
    bool passwordProven = false;
};

// What a run's file work needs, copied when it starts, so that a password forgotten or a
// setting changed during the run affects later runs only. The runner sets options.stop.
struct BatchSettings {
    container::FileOptions options;
    std::string password;  // encrypt and decrypt only; wiped when the run is over
};

// The work on one file; safe on any thread, shows nothing. A file that vanished before its delete
// counts as deleted.
FileOutcome RunBatchFile(BatchOperation operation, const std::string& path, const BatchSettings& settings);

// The box shown after a run that left notes: its caption and text; nothing without notes.
std::optional<BatchNotice> BatchSummary(BatchOperation operation, const std::vector<std::string>& notes);

// One file's result as the window applies it: the boxes first, then the status text and the
// progress bar's position.
struct BatchStep {
    std::vector<BatchNotice> notices;
    std::optional<std::string> status;
    int position = 0;
    bool passwordProven = false;
};

struct BatchCollect {
    std::vector<BatchStep> steps;
    // The run's last result is in these steps: the window finishes the run after them.
    bool finished = false;
};

// The window's batch state: one run at a time, its queue, its position and its notes. Used on the
// window thread; the file work goes to the pool at batch priority.
class BatchRunner {
public:
    using FileWork = std::function<FileOutcome(BatchOperation, const std::string&, const BatchSettings&)>;

    // `parallel` files at most are worked on at once. `resultsReady` is called on a worker thread
    // when results wait to be collected. `work` stands in for RunBatchFile in tests.
    BatchRunner(workers::WorkerPool& pool, unsigned parallel, std::function<void()> resultsReady,
                FileWork work = RunBatchFile);
    // Stops and waits for the files in flight.
    ~BatchRunner();
    BatchRunner(const BatchRunner&) = delete;
    BatchRunner& operator=(const BatchRunner&) = delete;

    // Starts a run over `paths`. Nothing (and nullopt) while a run is active, for None, or for an
    // empty list. Otherwise the first step to show: position 0 and, for the operations that name
    // a file before working on it, the first file's status. Encrypt and decrypt append each new
    // path to `reselectNames` as it is collected.
    std::optional<BatchStep> StartBatch(BatchOperation operation, std::vector<std::string> paths,
                                        BatchSettings settings, std::vector<std::string>& reselectNames);

    // The results that arrived since the last call, in list order.
    BatchCollect Collect();

    // The end of a run once its last step is applied: the operation goes back to None and the
    // notes are handed over.
    std::vector<std::string> FinishRun();

    // What the status bar says once the last run is over, from the refusals it told there: the
    // one, a count when there were several, nothing when none. Kept until the next run starts.
    std::optional<std::string> FinalStatus() const;

    // No further file starts; the files in flight are finished, except that their secure
    // deletions stop after the pass in progress (what is left is finished by a later operation
    // in its folder). The run then stays active until the window ends; used when it closes.
    void StopAndWait();

    bool Active() const { return operation_ != BatchOperation::None; }
    BatchOperation Operation() const { return operation_; }
    int Count() const { return static_cast<int>(queue_.size()); }

private:
    workers::WorkerPool& pool_;
    unsigned parallel_;
    std::function<void()> resultsReady_;
    FileWork work_;

    BatchOperation operation_ = BatchOperation::None;
    std::vector<std::string> queue_;
    int position_ = 0;
    std::vector<std::string>* reselectNames_ = nullptr;
    std::vector<std::string> notes_;
    int statusNotes_ = 0;
    std::string lastStatusNote_;
    std::unique_ptr<workers::OrderedRun<FileOutcome>> run_;
    std::stop_source stop_;
};

}  // namespace quillix::gallery
