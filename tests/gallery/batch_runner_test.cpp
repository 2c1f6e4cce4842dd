#include "gallery/batch_runner.h"

#include "container/container_file.h"
#include "container/file_ops.h"
#include "container/work_files.h"
#include "imaging/jpeg_codec.h"
#include "support/picture_files.h"
#include "support/temp_dir.h"
#include "support/unwritable_folder.h"
#include "support/writer_process.h"

#include <gtest/gtest.h>

#include <QImage>

#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <latch>
#include <optional>
#include <set>
#include <thread>

namespace quillix::gallery {
namespace {

using quillix::test::TempDir;
using quillix::test::WriteFile;

// Every step a run gives until its end, collected the way the window does when woken, once the
// pool has done all the run's work: the files are handed out by the jobs themselves.
std::vector<BatchStep> RunToEnd(quillix::workers::WorkerPool& pool, BatchRunner& runner, std::optional<BatchStep> first)
{
    std::vector<BatchStep> steps;
    if (first) steps.push_back(*first);
    pool.WaitIdle();
    BatchCollect collected = runner.Collect();
    for (BatchStep& step : collected.steps)
        steps.push_back(std::move(step));
    if (!collected.finished) ADD_FAILURE() << "the run did not finish with its work done";
    return steps;
}

std::vector<std::string> Statuses(const std::vector<BatchStep>& steps)
{
    std::vector<std::string> statuses;
    for (const BatchStep& step : steps)
        statuses.push_back(step.status.value_or("-"));
    return statuses;
}

std::vector<int> Positions(const std::vector<BatchStep>& steps)
{
    std::vector<int> positions;
    for (const BatchStep& step : steps)
        positions.push_back(step.position);
    return positions;
}

// File work that takes longer for earlier files, so that later ones finish first.
BatchRunner::FileWork SlowFirst(std::vector<std::string>& done, std::mutex& mutex)
{
    return [&done, &mutex](BatchOperation, const std::string& path, const BatchSettings&) {
        const int n = path.back() - '0';
        std::this_thread::sleep_for(std::chrono::milliseconds(3 * (4 - n)));
        std::lock_guard lock(mutex);
        done.push_back(path);
        FileOutcome outcome;
        outcome.newPath = "$" + path;
        if (n == 2) outcome.notices.push_back({"Warning", "about " + path});
        if (n != 1) outcome.note = path + ": noted";
        return outcome;
    };
}

TEST(BatchRunnerTest, StatusNamesEachFileBeforeOrAfterItsWorkAndStepsComeInListOrder)
{
    struct Row {
        BatchOperation operation;
        std::vector<std::string> statuses;  // the start step first, then one per file
        std::vector<std::string> reselected;
    };
    const std::vector<std::string> files{"/d/f1", "/d/f2", "/d/f3"};
    const Row rows[] = {
        {BatchOperation::Delete, {"Del: f1", "Del: f2", "Del: f3", "-"}, {}},
        {BatchOperation::SecureDelete, {"SecDel: f1", "SecDel: f2", "SecDel: f3", "-"}, {}},
        {BatchOperation::RotateClockwise, {"Rot: f1", "Rot: f2", "Rot: f3", "-"}, {}},
        {BatchOperation::RotateCounterClockwise, {"Rot: f1", "Rot: f2", "Rot: f3", "-"}, {}},
        {BatchOperation::Encrypt, {"-", "Enc: f1", "Enc: f2", "Enc: f3"}, {"$/d/f1", "$/d/f2", "$/d/f3"}},
        {BatchOperation::Decrypt, {"-", "Dec: f1", "Dec: f2", "Dec: f3"}, {"$/d/f1", "$/d/f2", "$/d/f3"}},
    };
    for (const Row& row : rows) {
        quillix::workers::WorkerPool pool(3);
        std::vector<std::string> done;
        std::mutex mutex;
        BatchRunner runner(pool, 3, {}, SlowFirst(done, mutex));
        std::vector<std::string> reselect{"kept"};
        const std::vector<BatchStep> steps =
            RunToEnd(pool, runner, runner.StartBatch(row.operation, files, {}, reselect));
        EXPECT_EQ(Statuses(steps), row.statuses);
        EXPECT_EQ(Positions(steps), (std::vector<int>{0, 1, 2, 3}));
        ASSERT_EQ(steps.size(), 4u);
        EXPECT_TRUE(steps[1].notices.empty());
        EXPECT_EQ(steps[2].notices, (std::vector<BatchNotice>{{"Warning", "about /d/f2"}}));
        std::vector<std::string> expected{"kept"};
        expected.insert(expected.end(), row.reselected.begin(), row.reselected.end());
        EXPECT_EQ(reselect, expected);
        EXPECT_TRUE(runner.Active()) << "until the window finishes the run";
        EXPECT_EQ(runner.FinishRun(), (std::vector<std::string>{"/d/f2: noted", "/d/f3: noted"}));
        EXPECT_FALSE(runner.Active());
        EXPECT_EQ(runner.Operation(), BatchOperation::None);
    }
}

TEST(BatchRunnerTest, OneRunAtATime)
{
    quillix::workers::WorkerPool pool(2);
    std::vector<std::string> done;
    std::mutex mutex;
    BatchRunner runner(pool, 2, {}, SlowFirst(done, mutex));
    std::vector<std::string> reselect;
    EXPECT_FALSE(runner.StartBatch(BatchOperation::Delete, {}, {}, reselect)) << "an empty list starts nothing";
    EXPECT_FALSE(runner.Active());
    ASSERT_TRUE(runner.StartBatch(BatchOperation::Delete, {"/d/f1", "/d/f2"}, {}, reselect));
    EXPECT_FALSE(runner.StartBatch(BatchOperation::Encrypt, {"/d/f3"}, {}, reselect)) << "dropped";
    EXPECT_EQ(runner.Operation(), BatchOperation::Delete);
    RunToEnd(pool, runner, std::nullopt);
    runner.FinishRun();
    EXPECT_EQ(done.size(), 2u);
    ASSERT_TRUE(runner.StartBatch(BatchOperation::Encrypt, {"/d/f3"}, {}, reselect));
    RunToEnd(pool, runner, std::nullopt);
    EXPECT_EQ(done.size(), 3u);
}

// A picture that only turns with loss is told in the status bar: in its own step, and once the
// run is over, alone or counted with the others.
TEST(BatchRunnerTest, RefusalsToldInTheStatusBarOutlastTheRun)
{
    const auto refuseNamed = [](const std::set<std::string>& lossy) {
        return [lossy](BatchOperation, const std::string& path, const BatchSettings&) {
            FileOutcome outcome;
            if (lossy.count(path)) outcome.statusNote = "refused " + path;
            return outcome;
        };
    };
    struct Row {
        std::set<std::string> lossy;
        std::vector<std::string> statuses;
        std::optional<std::string> final;
    };
    const Row rows[] = {
        {{}, {"Rot: f1", "Rot: f2", "Rot: f3", "-"}, std::nullopt},
        {{"/d/f2"}, {"Rot: f1", "Rot: f2", "refused /d/f2", "-"}, "refused /d/f2"},
        {{"/d/f1", "/d/f3"},
         {"Rot: f1", "refused /d/f1", "Rot: f3", "refused /d/f3"},
         "2 pictures were not turned: HEIF, AVIF and JPEG XL pictures cannot be turned without loss. The files "
         "are unchanged."},
    };
    for (const Row& row : rows) {
        quillix::workers::WorkerPool pool(2);
        BatchRunner runner(pool, 2, {}, refuseNamed(row.lossy));
        std::vector<std::string> reselect;
        const std::vector<BatchStep> steps =
            RunToEnd(pool, runner,
                     runner.StartBatch(BatchOperation::RotateClockwise, {"/d/f1", "/d/f2", "/d/f3"}, {}, reselect));
        EXPECT_EQ(Statuses(steps), row.statuses);
        EXPECT_TRUE(runner.FinishRun().empty()) << "no summary box for them";
        EXPECT_EQ(runner.FinalStatus(), row.final);
    }
}

// Closing during a run waits for the files in flight, whose secure deletions are told to stop
// after the pass in progress; no further file starts, and the run never counts as finished.
TEST(BatchRunnerTest, StoppingFinishesTheFilesInFlightAndNeverEndsTheRun)
{
    quillix::workers::WorkerPool pool(1);
    std::latch working(1);
    std::atomic<int> started{0};
    bool toldToStop = false;
    BatchRunner runner(pool, 1, {}, [&](BatchOperation, const std::string&, const BatchSettings& settings) {
        ++started;
        std::mutex mutex;
        std::condition_variable_any never;
        std::unique_lock lock(mutex);
        working.count_down();
        // Returns only when the stop comes.
        never.wait(lock, settings.options.stop, [] { return false; });
        toldToStop = settings.options.stop.stop_requested();
        return FileOutcome{};
    });
    std::vector<std::string> reselect;
    ASSERT_TRUE(runner.StartBatch(BatchOperation::SecureDelete, {"/a", "/b", "/c", "/d"}, {}, reselect));
    working.wait();
    runner.StopAndWait();
    pool.WaitIdle();
    EXPECT_TRUE(toldToStop);
    EXPECT_EQ(started.load(), 1);
    EXPECT_FALSE(runner.Collect().finished);
}

TEST(BatchRunnerTest, SummaryOfNotes)
{
    EXPECT_FALSE(BatchSummary(BatchOperation::Encrypt, {}));
    const std::optional<BatchNotice> one = BatchSummary(BatchOperation::Encrypt, {"a.jpg: why"});
    ASSERT_TRUE(one);
    EXPECT_EQ(one->caption, "Encrypt");
    EXPECT_EQ(one->text, "1 file was not done as asked:\n\na.jpg: why");
    std::vector<std::string> many;
    for (int i = 0; i < 25; ++i)
        many.push_back("f" + std::to_string(i));
    const std::optional<BatchNotice> all = BatchSummary(BatchOperation::SecureDelete, many);
    ASSERT_TRUE(all);
    EXPECT_EQ(all->caption, "Secure delete");
    EXPECT_NE(all->text.find("25 files were not done as asked:\n\nf0\nf1\n"), std::string::npos);
    EXPECT_NE(all->text.find("\nf19\n... and 5 more"), std::string::npos);
    EXPECT_EQ(all->text.find("f20"), std::string::npos);
}

TEST(RunBatchFileTest, TheRealWorkOnOneFile)
{
    TempDir dir;
    BatchSettings settings;
    settings.options.Passes = 1;
    settings.password = "pw";

    // A file that vanished before its delete counts as deleted.
    EXPECT_TRUE(RunBatchFile(BatchOperation::Delete, dir / "gone.jpg", settings).note.empty());
    WriteFile(dir / "a.jpg", std::string("a"));
    EXPECT_TRUE(RunBatchFile(BatchOperation::Delete, dir / "a.jpg", settings).note.empty());
    WriteFile(dir / "b.jpg", std::string("b"));
    EXPECT_TRUE(RunBatchFile(BatchOperation::SecureDelete, dir / "b.jpg", settings).note.empty());
    EXPECT_EQ(quillix::test::FileNames(dir), std::set<std::string>{});

    test::WriteJpeg(dir / "p.jpg", 8, 4);
    const FileOutcome encrypted = RunBatchFile(BatchOperation::Encrypt, dir / "p.jpg", settings);
    EXPECT_EQ(encrypted.newPath, dir / "$p.jpg");
    EXPECT_TRUE(encrypted.note.empty());
    EXPECT_TRUE(encrypted.notices.empty());
    EXPECT_EQ(quillix::test::FileNames(dir), std::set<std::string>{"$p.jpg"});

    // An encrypted file is not turned; the rotation's own message comes back to be shown.
    const FileOutcome turned = RunBatchFile(BatchOperation::RotateClockwise, dir / "$p.jpg", settings);
    EXPECT_EQ(turned.notices,
              (std::vector<BatchNotice>{
                  {"Rotate", "RotateImageFile90: Encrypted files are not rotated.\nPlease decrypt first."}}));

    BatchSettings wrong = settings;
    wrong.password = "other";
    const FileOutcome refused = RunBatchFile(BatchOperation::Decrypt, dir / "$p.jpg", wrong);
    EXPECT_TRUE(refused.newPath.empty());
    EXPECT_EQ(refused.note, "$p.jpg: wrong password or damaged file");
    const FileOutcome decrypted = RunBatchFile(BatchOperation::Decrypt, dir / "$p.jpg", settings);
    EXPECT_EQ(decrypted.newPath, dir / "p.jpg");
    EXPECT_EQ(RunBatchFile(BatchOperation::Decrypt, dir / "p.jpg", settings).newPath, dir / "p.jpg")
        << "a plain file is passed back unchanged";

    const FileOutcome rotated = RunBatchFile(BatchOperation::RotateCounterClockwise, dir / "p.jpg", settings);
    EXPECT_TRUE(rotated.notices.empty());
    EXPECT_EQ(imaging::DecodeJpegUpright(quillix::test::ReadFile(dir / "p.jpg")).value().size(), QSize(4, 8));

    WriteFile(dir / "IMG_1.HEIC", std::string("kept as it is"));
    const FileOutcome lossy = RunBatchFile(BatchOperation::RotateClockwise, dir / "IMG_1.HEIC", settings);
    EXPECT_TRUE(lossy.notices.empty());
    EXPECT_EQ(lossy.statusNote,
              "IMG_1.HEIC was not turned: HEIF pictures cannot be turned without loss. The file is unchanged.");
}

// A wipe told to stop is never reported as done. The picture leaves its name all the same, and
// what is left is finished by the next operation in the folder.
TEST(RunBatchFileTest, AStoppedWipeIsNoSuccess)
{
    TempDir dir;
    std::stop_source closing;
    closing.request_stop();
    BatchSettings settings;
    settings.options.Passes = 3;
    settings.options.stop = closing.get_token();
    settings.password = "pw";
    const auto leftovers = [&dir] {
        std::size_t n = 0;
        for (const std::string& name : quillix::test::FileNames(dir))
            n += container::IsWorkFileName(name) ? 1 : 0;
        return n;
    };

    WriteFile(dir / "a.jpg", std::string("picture"));
    const std::string note = RunBatchFile(BatchOperation::SecureDelete, dir / "a.jpg", settings).note;
    EXPECT_EQ(note.rfind("a.jpg: the secure overwrite failed (stopped: the program was closing); what is left is "
                         "kept as .quillix-",
                         0),
              0u)
        << note;
    EXPECT_EQ(quillix::test::FileNames(dir).size(), 1u);
    EXPECT_EQ(leftovers(), 1u);

    WriteFile(dir / "b.jpg", std::string("picture"));
    const FileOutcome encrypted = RunBatchFile(BatchOperation::Encrypt, dir / "b.jpg", settings);
    EXPECT_EQ(encrypted.newPath, dir / "$b.jpg");
    ASSERT_EQ(encrypted.notices.size(), 1u);
    EXPECT_EQ(encrypted.notices[0].caption, "Warning");
    EXPECT_NE(encrypted.notices[0].text.find("overwritten completely 0 of 3 times before the program closed"),
              std::string::npos)
        << encrypted.notices[0].text;
    EXPECT_EQ(leftovers(), 2u);

    settings.options.stop = {};
    EXPECT_TRUE(RunBatchFile(BatchOperation::SecureDelete, dir / "gone.jpg", settings).note.empty());
    EXPECT_EQ(quillix::test::FileNames(dir), std::set<std::string>{"$b.jpg"}) << "the next operation finished both";
}

// A picture another program has open for writing is not encrypted; the summary says why.
TEST(RunBatchFileTest, AFileInUseIsLeftAloneWithANote)
{
    TempDir dir;
    WriteFile(dir / "a.jpg", std::string("picture"));
    quillix::test::WriterProcess writer =
        quillix::test::WriterProcess::Start(dir / "a.jpg", quillix::test::WriterProcess::Opening::Now);
    ASSERT_TRUE(writer.started());
    BatchSettings settings;
    settings.options.Passes = 1;
    settings.password = "pw";
    const FileOutcome outcome = RunBatchFile(BatchOperation::Encrypt, dir / "a.jpg", settings);
    EXPECT_TRUE(outcome.newPath.empty());
    EXPECT_EQ(outcome.note.rfind("a.jpg: " + dir / "a.jpg" + " is in use by another program", 0), 0u) << outcome.note;
    writer.Close();
    EXPECT_EQ(quillix::test::FileNames(dir), std::set<std::string>{"a.jpg"});
}

// Deletes that cannot be done leave the file where it was and give the summary a line; a file
// with other hard links loses only this name.
TEST(RunBatchFileTest, DeletesThatCannotBeDoneAsAskedSayWhy)
{
    BatchSettings settings;
    settings.options.Passes = 1;
    for (const BatchOperation operation : {BatchOperation::Delete, BatchOperation::SecureDelete}) {
        TempDir dir;
        WriteFile(dir / "a.jpg", std::string("picture"));
        quillix::test::UnwritableFolder unwritable(dir.path());
        if (!unwritable.refusesWrites()) GTEST_SKIP() << "this file system lets root write anywhere";
        const std::string note = RunBatchFile(operation, dir / "a.jpg", settings).note;
        const std::string expected =
            operation == BatchOperation::Delete ? "a.jpg: " : "a.jpg: the secure overwrite failed (";
        EXPECT_EQ(note.rfind(expected, 0), 0u) << note;
        EXPECT_EQ(quillix::test::ReadText(dir / "a.jpg"), "picture");
    }

    TempDir dir, elsewhere;
    WriteFile(dir / "a.jpg", std::string("picture"));
    ASSERT_EQ(::link((dir / "a.jpg").c_str(), (elsewhere / "a.jpg").c_str()), 0);
    EXPECT_EQ(RunBatchFile(BatchOperation::SecureDelete, dir / "a.jpg", settings).note,
              "a.jpg has other hard links, which still hold the picture: only this name was removed, nothing was "
              "overwritten");
    EXPECT_EQ(quillix::test::FileNames(dir), std::set<std::string>{});
    EXPECT_EQ(quillix::test::ReadText(elsewhere / "a.jpg"), "picture");
}

}  // namespace
}  // namespace quillix::gallery
