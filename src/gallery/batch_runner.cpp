#include "gallery/batch_runner.h"

#include "browse/rotation_notice.h"
#include "common/paths.h"
#include "container/file_crypto.h"
#include "container/secure_delete.h"
#include "container/wipe_report.h"
#include "crypto/secure.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillix::gallery {
namespace {

// The run's settings, wiped when the last file job lets go of them.
struct RunSettings {
    BatchSettings settings;
    ~RunSettings() { crypto::SecureWipe(settings.password); }
};

const char* OperationName(BatchOperation operation)
{
    switch (operation) {
    case BatchOperation::Delete: return "Delete";
    case BatchOperation::SecureDelete: return "Secure delete";
    case BatchOperation::RotateClockwise:
    case BatchOperation::RotateCounterClockwise: return "Rotate";
    case BatchOperation::Encrypt: return "Encrypt";
    case BatchOperation::Decrypt: return "Decrypt";
    case BatchOperation::None: break;
    }
    return "";
}

}  // namespace

const char* BatchStatusPrefix(BatchOperation operation)
{
    switch (operation) {
    case BatchOperation::Delete: return "Del: ";
    case BatchOperation::SecureDelete: return "SecDel: ";
    case BatchOperation::RotateClockwise:
    case BatchOperation::RotateCounterClockwise: return "Rot: ";
    case BatchOperation::Encrypt: return "Enc: ";
    case BatchOperation::Decrypt: return "Dec: ";
    case BatchOperation::None: break;
    }
    return "";
}

bool StatusBeforeOperation(BatchOperation operation)
{
    return operation != BatchOperation::Encrypt && operation != BatchOperation::Decrypt;
}

bool IsRotation(BatchOperation operation)
{
    return operation == BatchOperation::RotateClockwise || operation == BatchOperation::RotateCounterClockwise;
}

FileOutcome RunBatchFile(BatchOperation operation, const std::string& path, const BatchSettings& settings)
{
    FileOutcome outcome;
    const std::string name = FileNameOf(path);
    switch (operation) {
    case BatchOperation::Delete:
        if (::unlink(path.c_str()) != 0 && errno != ENOENT) outcome.note = name + ": " + std::strerror(errno);
        break;
    case BatchOperation::SecureDelete: {
        const container::StopRequested stop = [token = settings.options.stop] { return token.stop_requested(); };
        outcome.note = container::WipeNote(name, container::SecureDeleteFile(path, settings.options.Passes, stop));
        break;
    }
    case BatchOperation::RotateClockwise:
    case BatchOperation::RotateCounterClockwise: {
        const imaging::RotationOutcome turned =
            imaging::RotateImageFile90(path, operation == BatchOperation::RotateClockwise ? +1 : -1);
        if (const std::optional<BatchNotice> notice = browse::RotationNotice(turned))
            outcome.notices.push_back(*notice);
        if (std::optional<std::string> status = browse::RotationStatus(turned)) outcome.statusNote = std::move(*status);
        break;
    }
    case BatchOperation::Encrypt:
    case BatchOperation::Decrypt: {
        const bool encrypt = operation == BatchOperation::Encrypt;
        const container::CryptOutcome done =
            encrypt ? container::EncryptFileWith(path, settings.password, settings.options)
                    : container::DecryptFileWith(path, settings.password, settings.options);
        outcome.newPath = done.path;
        if (!done.ok()) {
            outcome.note = name + ": " + done.error.message;
        } else if (done.path != path) {
            outcome.passwordProven = !encrypt;
            // A source that could not be wiped is told at once, as a single operation tells it;
            // other links that keep it are a note for the end.
            if (!done.result.wipe.ok())
                outcome.notices.push_back({"Warning", done.warning});
            else if (!done.warning.empty())
                outcome.note = done.warning;
        }
        break;
    }
    case BatchOperation::None: break;
    }
    return outcome;
}

std::optional<BatchNotice> BatchSummary(BatchOperation operation, const std::vector<std::string>& notes)
{
    return browse::SummaryNotice(OperationName(operation), notes);
}

BatchRunner::BatchRunner(workers::WorkerPool& pool, unsigned parallel, std::function<void()> resultsReady,
                         FileWork work)
    : pool_(pool), parallel_(parallel), resultsReady_(std::move(resultsReady)), work_(std::move(work))
{
}

BatchRunner::~BatchRunner()
{
    StopAndWait();
}

std::optional<BatchStep> BatchRunner::StartBatch(BatchOperation operation, std::vector<std::string> paths,
                                                 BatchSettings settings, std::vector<std::string>& reselectNames)
{
    if (Active() || operation == BatchOperation::None || paths.empty()) {
        crypto::SecureWipe(settings.password);
        return std::nullopt;
    }
    operation_ = operation;
    queue_ = std::move(paths);
    position_ = 0;
    reselectNames_ = &reselectNames;
    notes_.clear();
    statusNotes_ = 0;
    lastStatusNote_.clear();

    auto shared = std::make_shared<RunSettings>();
    shared->settings = std::move(settings);
    stop_ = std::stop_source();
    shared->settings.options.stop = stop_.get_token();
    // The work gets copies: the queue belongs to the window thread.
    run_ = std::make_unique<workers::OrderedRun<FileOutcome>>(
        pool_, workers::JobPriority::Batch, queue_.size(), parallel_,
        [work = work_, operation, queue = queue_, shared](std::size_t index) {
            return work(operation, queue[index], shared->settings);
        },
        resultsReady_);

    BatchStep first;
    if (StatusBeforeOperation(operation)) first.status = BatchStatusPrefix(operation) + FileNameOf(queue_.front());
    return first;
}

BatchCollect BatchRunner::Collect()
{
    BatchCollect collected;
    if (!run_) return collected;
    for (FileOutcome& outcome : run_->TakeReady()) {
        const int index = position_;
        BatchStep step;
        step.notices = std::move(outcome.notices);
        step.passwordProven = outcome.passwordProven;
        if (StatusBeforeOperation(operation_)) {
            if (index + 1 < Count())
                step.status = BatchStatusPrefix(operation_) + FileNameOf(queue_[static_cast<std::size_t>(index) + 1]);
        } else {
            step.status = BatchStatusPrefix(operation_) + FileNameOf(queue_[static_cast<std::size_t>(index)]);
            if (!outcome.newPath.empty() && reselectNames_) reselectNames_->push_back(outcome.newPath);
        }
        if (!outcome.note.empty()) notes_.push_back(std::move(outcome.note));
        if (!outcome.statusNote.empty()) {
            ++statusNotes_;
            lastStatusNote_ = outcome.statusNote;
            step.status = std::move(outcome.statusNote);
        }
        step.position = ++position_;
        collected.steps.push_back(std::move(step));
    }
    collected.finished = position_ == Count() && !run_->Stopped();
    return collected;
}

std::vector<std::string> BatchRunner::FinishRun()
{
    run_.reset();
    operation_ = BatchOperation::None;
    reselectNames_ = nullptr;
    queue_.clear();
    return std::move(notes_);
}

std::optional<std::string> BatchRunner::FinalStatus() const
{
    if (statusNotes_ == 0) return std::nullopt;
    if (statusNotes_ == 1) return lastStatusNote_;
    return browse::RotationStatusForMany(statusNotes_);
}

void BatchRunner::StopAndWait()
{
    if (!run_) return;
    stop_.request_stop();
    run_->Stop();
    run_->WaitRunning();
}

}  // namespace quillix::gallery
