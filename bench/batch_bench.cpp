// How long the gallery's batch runs take with one worker and with one per core, and what they
// cost the window.
//   batch_bench DIR   writes 200 JPEG of about 3 MB into DIR (when it holds none), opens DIR in a
//                     gallery (offscreen), selects every file and runs, with `passes` 7: encrypt
//                     and decrypt on a pool of one worker, then encrypt and decrypt on a pool of
//                     one worker per core. For each run it prints the wall time and the longest
//                     time the window thread was busy in one go. DIR should be on the disk the
//                     project lives on: flushed overwrite passes cost nothing on tmpfs.
#include "bench_machine.h"
#include "bench_pictures.h"
#include "gallery/gallery_window.h"
#include "imaging/jpeg_codec.h"
#include "support/scripted_dialogs.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <time.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

constexpr const char* kPassword = "quillix";
constexpr int kFiles = 200;

// 200 photo-like JPEG of 3000 × 2250 at quality 97: about 3 MB each.
void WritePictures(const std::filesystem::path& dir)
{
    std::filesystem::create_directories(dir);
    std::atomic<int> next{0};
    const auto work = [&] {
        for (int i = next++; i < kFiles; i = next++) {
            char name[32];
            std::snprintf(name, sizeof name, "photo%03d.jpg", i);
            const std::vector<std::uint8_t> bytes =
                quillix::imaging::EncodeJpeg(quillix::bench::PhotoLike(3000, 2250, static_cast<std::uint32_t>(i + 1)),
                                             97)
                    .value();
            std::ofstream(dir / name, std::ios::binary)
                .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < std::max(1u, std::thread::hardware_concurrency()); ++t)
        threads.emplace_back(work);
    for (std::thread& t : threads)
        t.join();
}

struct RunFigures {
    double wallMs = 0;
    double longestBusyMs = 0;
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: batch_bench DIR\n");
        return 2;
    }
    const std::string dir = std::filesystem::absolute(argv[1]).string();
    bool any = false;
    if (std::filesystem::exists(dir))
        for (const auto& entry : std::filesystem::directory_iterator(dir))
            any = any || entry.path().extension() == ".jpg";
    if (!any) WritePictures(dir);

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    // Events that keep the window thread away from its loop for more than 20 ms are named on
    // standard error with the CPU time the thread spent in them: a long stretch with little CPU
    // time is a wait (for the disk, or the scheduler), not work.
    struct App : QApplication {
        using QApplication::QApplication;
        bool notify(QObject* o, QEvent* e) override
        {
            QElapsedTimer t;
            t.start();
            timespec c0{}, c1{};
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c0);
            const bool r = QApplication::notify(o, e);
            clock_gettime(CLOCK_THREAD_CPUTIME_ID, &c1);
            if (t.elapsed() > 20)
                std::fprintf(stderr, "slow event %d to %s: %lld ms, cpu %.1f ms\n", int(e->type()),
                             o->metaObject()->className(), (long long)t.elapsed(),
                             (c1.tv_sec - c0.tv_sec) * 1e3 + (c1.tv_nsec - c0.tv_nsec) / 1e6);
            return r;
        }
    } application(argc, argv);
    quillix::test::ScriptedDialogs dialogs;
    dialogs.passwords = {kPassword};
    const std::filesystem::path config = std::filesystem::temp_directory_path() / "quillix-batch-bench";
    std::filesystem::create_directories(config);
    quillix::session::Session session(quillix::session::SessionEnvironment{&dialogs, config.string() + "/", nullptr});
    quillix::viewer::ViewerEnvironment environment;
    quillix::viewer::ViewerWindow viewer(session, std::move(environment));
    session.Options().SortMode = 1;
    session.Options().Passes = 7;
    quillix::gallery::GalleryWindow gallery(session, viewer);
    viewer.setGallery(&gallery);
    gallery.show();
    gallery.resize(1280, 800);
    gallery.Model().OpenFolder(dir + "/");
    const int count = gallery.Model().Count();
    std::int64_t bytes = 0;
    for (const std::string& path : gallery.Model().Files())
        bytes += static_cast<std::int64_t>(std::filesystem::file_size(path));

    // The thumbnails first, so that the runs have the workers to themselves.
    {
        QEventLoop loop;
        QTimer watch;
        watch.setInterval(20);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (gallery.thumbnails().Complete()) loop.quit();
        });
        watch.start();
        loop.exec();
    }

    // The longest stretch the window thread spent away from its event loop: the lateness of a
    // timer that should fire every 2 ms.
    QElapsedTimer clock;
    qint64 lastTick = -1, longestBusy = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(2);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        if (lastTick >= 0) longestBusy = std::max(longestBusy, now - lastTick - 2'000'000);
        lastTick = now;
    });

    const auto run = [&](bool encrypt) {
        gallery.Model().Select({});
        for (int i = 0; i < gallery.Model().Count(); ++i)
            gallery.Model().AddToSelection(i);
        const int before = gallery.FinishedBatchRuns();
        clock.start();
        lastTick = -1;
        longestBusy = 0;
        probe.start();
        QEventLoop loop;
        QTimer watch;
        watch.setInterval(5);
        QObject::connect(&watch, &QTimer::timeout, [&] {
            if (gallery.FinishedBatchRuns() != before) loop.quit();
        });
        watch.start();
        QTimer::singleShot(0, [&] { gallery.EncryptDecryptSelection(encrypt); });
        loop.exec();
        probe.stop();
        return RunFigures{clock.nsecsElapsed() / 1e6, longestBusy / 1e6};
    };

    const unsigned cores = std::max(1u, std::thread::hardware_concurrency());
    std::printf("%d files, %.1f MB on average, on %s; %u cores; passes 7; Fast %s\n", count,
                static_cast<double>(bytes) / count / 1048576.0, quillix::bench::FileSystemOf(dir).c_str(), cores,
                session.Crypto().OptionsForNextOperation().Fast ? "on" : "off");
    RunFigures figures[2][2];
    for (const unsigned workers : {1u, cores}) {
        quillix::workers::WorkerPool pool(workers);
        gallery.setWorkerPool(&pool);
        for (const bool encrypt : {true, false}) {
            const RunFigures f = run(encrypt);
            figures[workers == 1 ? 0 : 1][encrypt ? 0 : 1] = f;
            std::printf("%-7s with %u worker%s: %8.0f ms; longest busy stretch of the window thread %.1f ms\n",
                        encrypt ? "encrypt" : "decrypt", workers, workers == 1 ? " " : "s", f.wallMs, f.longestBusyMs);
            std::fflush(stdout);
        }
        gallery.setWorkerPool(&session.Pool());
    }
    for (int op = 0; op < 2; ++op)
        std::printf("%s: %u workers take %.2f of one worker's time (goal <= 0.60)\n", op == 0 ? "encrypt" : "decrypt",
                    cores, figures[1][op].wallMs / figures[0][op].wallMs);
    if (!dialogs.messages.empty()) std::printf("messages shown: %zu\n", dialogs.messages.size());
    return 0;
}
