// A batch run as the gallery makes it, in a process of its own so that a test can kill it:
//   batch_kill_driver encrypt|decrypt PASSWORD PASSES FILE...
// The files go through the gallery's batch runner on a pool of two workers; one line
// "step N" is written to standard output as each result is applied, in list order.
#include "gallery/batch_runner.h"

#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

int main(int argc, char** argv)
{
    using namespace quillix::gallery;
    if (argc < 5) return 2;
    const std::string command = argv[1];
    BatchSettings settings;
    settings.password = argv[2];
    settings.options.Passes = std::stoi(argv[3]);
    settings.options.Fast = true;
    const std::vector<std::string> files(argv + 4, argv + argc);

    std::mutex mutex;
    std::condition_variable woken;
    bool ready = false;
    quillix::workers::WorkerPool pool(2);
    BatchRunner runner(pool, 2, [&] {
        {
            std::lock_guard lock(mutex);
            ready = true;
        }
        woken.notify_one();
    });
    std::vector<std::string> reselect;
    if (!runner.StartBatch(command == "encrypt" ? BatchOperation::Encrypt : BatchOperation::Decrypt, files, settings,
                           reselect))
        return 2;
    for (;;) {
        {
            std::unique_lock lock(mutex);
            woken.wait(lock, [&] { return ready; });
            ready = false;
        }
        const BatchCollect collected = runner.Collect();
        for (const BatchStep& step : collected.steps)
            std::printf("step %d\n", step.position);
        std::fflush(stdout);
        if (collected.finished) break;
    }
    const std::vector<std::string> notes = runner.FinishRun();
    for (const std::string& note : notes)
        std::fprintf(stderr, "%s\n", note.c_str());
    return notes.empty() ? 0 : 1;
}
