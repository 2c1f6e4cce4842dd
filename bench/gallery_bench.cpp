// How fast the gallery fills a large folder with thumbnails, and what it costs the window.
//   gallery_bench --write DIR    600 JPEG of 12 MP, 300 PNG of 1920 × 1080 and 100 encrypted 12 MP
//                                JPEG (password "quillix") into DIR
//   gallery_bench DIR            opens DIR in a 1280 × 800 gallery at tile size 128 (offscreen) with
//                                the password entered, and prints: the time to the first paint with
//                                every visible thumbnail, the time to all thumbnails next to the same
//                                thumbnails made one after another on one thread, the longest time
//                                the window thread was busy in one go, and the peak resident memory.
//   gallery_bench --write-strong DIR   100 12 MP JPEG into DIR/plain and the same pictures, encrypted
//                                in one run in the strong format, into DIR/strong
//   gallery_bench --strong DIR [RUNS]  opens DIR/plain and DIR/strong in turn (RUNS times each,
//                                default 5) with the password entered, and prints the median time to
//                                all thumbnails of each and their ratio; every strong opening starts
//                                with no key kept, so each pays its one derivation.
//   gallery_bench --write-phone DIR    100 12 MP photos as JPEG, HEIC, and HEIC with a stored
//                                320-pixel thumbnail, into DIR/jpeg, DIR/heic, DIR/heic-thumb
//   gallery_bench --phone DIR [RUNS]   all thumbnails of each of the three (RUNS times, default 3):
//                                medians and their ratios to JPEG
#include "bench_machine.h"
#include "bench_pictures.h"
#include "container/file_ops.h"
#include "container/key_derivation.h"
#include "crypto/ciphers.h"
#include "gallery/gallery_window.h"
#include "imaging/heif_fixtures.h"
#include "imaging/jpeg_codec.h"
#include "imaging/png_codec.h"
#include "support/scripted_dialogs.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QScrollArea>
#include <QThread>
#include <QTimer>

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <vector>

namespace {

constexpr const char* kPassword = "quillix";

void Save(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

int Write(const std::filesystem::path& dir)
{
    std::filesystem::create_directories(dir);
    std::atomic<int> next{0};
    const auto work = [&] {
        for (int i = next++; i < 1000; i = next++) {
            char name[32];
            if (i < 600) {
                std::snprintf(name, sizeof name, "photo%03d.jpg", i);
                Save(dir / name,
                     quillix::imaging::EncodeJpeg(quillix::bench::PhotoLike(4000, 3000, i + 1), 90).value());
            } else if (i < 900) {
                std::snprintf(name, sizeof name, "screen%03d.png", i);
                Save(dir / name, quillix::imaging::EncodePng(quillix::bench::PhotoLike(1920, 1080, i + 1)).value());
            } else {
                std::snprintf(name, sizeof name, "secret%03d.jpg", i);
                Save(dir / name,
                     quillix::imaging::EncodeJpeg(quillix::bench::PhotoLike(4000, 3000, i + 1), 90).value());
                quillix::container::FileOptions options;
                options.Passes = 0;
                if (!quillix::container::EncryptToContainer(dir / name, kPassword, options)) return;
                std::filesystem::remove(dir / name);
            }
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < std::max(1u, std::thread::hardware_concurrency()); ++t)
        threads.emplace_back(work);
    for (std::thread& t : threads)
        t.join();
    return 0;
}

constexpr int kStrongPictures = 100;

int WriteStrong(const std::filesystem::path& dir)
{
    const std::filesystem::path plain = dir / "plain", strong = dir / "strong";
    std::filesystem::create_directories(plain);
    std::filesystem::create_directories(strong);
    std::atomic<int> next{0};
    std::atomic<bool> failed{false};
    const auto work = [&] {
        for (int i = next++; i < kStrongPictures; i = next++) {
            char name[32];
            std::snprintf(name, sizeof name, "photo%03d.jpg", i);
            Save(plain / name, quillix::imaging::EncodeJpeg(quillix::bench::PhotoLike(4000, 3000, i + 1), 90).value());
            std::filesystem::copy_file(plain / name, strong / name, std::filesystem::copy_options::overwrite_existing);
            quillix::container::FileOptions options;
            options.EncryptionAlg = quillix::crypto::CipherStrong;
            options.Passes = 0;
            if (!quillix::container::EncryptToContainer(strong / name, kPassword, options)) {
                failed = true;
                return;
            }
            std::filesystem::remove(strong / name);
        }
    };
    std::vector<std::thread> threads;
    for (unsigned t = 0; t < std::max(1u, std::thread::hardware_concurrency()); ++t)
        threads.emplace_back(work);
    for (std::thread& t : threads)
        t.join();
    if (failed) std::fprintf(stderr, "gallery_bench: the strong format could not be written\n");
    return failed ? 1 : 0;
}

double PeakMegabytes()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

qint64 ThreadCpuNs()
{
    timespec t{};
    ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

std::string LoadAverage()
{
    std::ifstream in("/proc/loadavg");
    std::string line;
    std::getline(in, line);
    return line + "\n";
}

// Reads every file once, so that both runs find them in the page cache.
void WarmCache(const std::string& dir)
{
    std::vector<char> buffer(1 << 20);
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        std::ifstream in(entry.path(), std::ios::binary);
        while (in.read(buffer.data(), static_cast<std::streamsize>(buffer.size())))
            ;
    }
}

// One gallery as both measurements use it: the password entered, names in order, tiles of 128
// pixels, thumbnails on a pool of its own. Needs the application made first.
struct BenchGallery {
    quillix::test::ScriptedDialogs dialogs;
    quillix::session::Session session{EnvironmentFor(dialogs)};
    quillix::viewer::ViewerWindow viewer{session, quillix::viewer::ViewerEnvironment{}};
    bool unlocked = Unlock(session);
    quillix::gallery::GalleryWindow gallery{session, viewer};
    quillix::workers::WorkerPool pool;

    BenchGallery()
    {
        viewer.setGallery(&gallery);
        gallery.setWorkerPool(&pool);
    }

    static quillix::session::SessionEnvironment EnvironmentFor(quillix::test::ScriptedDialogs& dialogs)
    {
        dialogs.passwords = {kPassword, kPassword};
        const std::filesystem::path config = std::filesystem::temp_directory_path() / "quillix-gallery-bench";
        std::filesystem::create_directories(config);
        return {&dialogs, config.string() + "/", nullptr};
    }
    static bool Unlock(quillix::session::Session& session)
    {
        session.Options().SortMode = 1;
        session.AppSettings().PushInt("TILE_SIZE", 128);
        return session.Crypto().EnsurePassword(false);
    }
};

int Measure(int argc, char** argv, const std::string& dir)
{
    WarmCache(dir);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    BenchGallery bench;
    if (!bench.unlocked) return 1;
    quillix::session::Session& session = bench.session;
    quillix::gallery::GalleryWindow& gallery = bench.gallery;
    const quillix::workers::WorkerPool& pool = bench.pool;

    // The longest stretch the window thread spent away from its event loop: the lateness of a
    // timer that should fire every 2 ms, by the wall clock and by the thread's own CPU time (on a
    // loaded machine the wall clock also counts the time the thread waited for a core).
    QElapsedTimer clock;
    qint64 lastTick = -1, longestBusy = 0, lastCpu = -1, longestCpu = 0;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(2);
    QObject::connect(&probe, &QTimer::timeout, [&] {
        const qint64 now = clock.nsecsElapsed();
        const qint64 cpu = ThreadCpuNs();
        if (lastTick >= 0) longestBusy = std::max(longestBusy, now - lastTick - 2'000'000);
        if (lastCpu >= 0) longestCpu = std::max(longestCpu, cpu - lastCpu);
        lastTick = now;
        lastCpu = cpu;
    });

    // After showing: the show restores the placement a previous run saved.
    gallery.show();
    gallery.resize(1280, 800);
    QApplication::processEvents();

    int count = 0, visibleTiles = 0;
    qint64 listed = -1, firstPaint = -1, allDone = -1;
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (firstPaint < 0) {
            const quillix::gallery::Viewport view = gallery.CurrentViewport();
            const quillix::gallery::TileLayout& layout = gallery.Layout();
            const int lastVisible =
                std::min(count, (view.height / quillix::gallery::RowPitch(layout.TileSize) + 1) * layout.Columns);
            bool ready = true;
            for (int i = 0; i < lastVisible && ready; ++i)
                ready = gallery.thumbnails().KindAt(i) != quillix::gallery::ThumbnailKind::None;
            if (ready) {
                visibleTiles = lastVisible;
                gallery.scrollArea()->viewport()->repaint();
                firstPaint = clock.nsecsElapsed();
            }
        }
        if (gallery.thumbnails().Complete()) {
            allDone = clock.nsecsElapsed();
            QApplication::quit();
        }
    });
    QTimer::singleShot(0, [&] {
        clock.start();
        gallery.Model().OpenFolder(dir + "/");
        count = gallery.Model().Count();
        listed = clock.nsecsElapsed();
        // Busy stretches count from here: the listing itself is measured apart.
        lastTick = listed;
        lastCpu = ThreadCpuNs();
        probe.start();
        watch.start();
    });
    QApplication::exec();
    const double peak = PeakMegabytes();

    // The same thumbnails, one after another on this thread.
    QElapsedTimer serial;
    serial.start();
    const std::string password = session.Crypto().ActivePassword();
    for (const std::string& path : gallery.Model().Files())
        (void)quillix::gallery::MakeThumbnail({path, password, session.Options().FileNamePW, 128});
    const double serialMs = serial.nsecsElapsed() / 1e6;

    // What the visible tiles cost one after another, to set the first paint against the floor the
    // decoders leave on this many cores.
    QElapsedTimer visibleSerial;
    visibleSerial.start();
    for (int i = 0; i < visibleTiles; ++i)
        (void)quillix::gallery::MakeThumbnail(
            {gallery.Model().Files()[static_cast<std::size_t>(i)], password, session.Options().FileNamePW, 128});
    const double visibleSerialMs = visibleSerial.nsecsElapsed() / 1e6;

    std::printf("folder: %d files on %s, %d cores, %u pool threads; window %d x %d, tile size %d, %d columns\n", count,
                quillix::bench::FileSystemOf(dir).c_str(), QThread::idealThreadCount(), pool.ThreadCount(),
                gallery.width(), gallery.height(), gallery.Layout().TileSize, gallery.Layout().Columns);
    std::printf("listing and sorting the folder (window thread): %.0f ms\n", listed / 1e6);
    std::printf("first paint with every visible thumbnail: %.0f ms (goal <= 500); its %d thumbnails take %.0f ms one "
                "after another on one thread, %.0f ms when spread over %d cores without any overhead\n",
                firstPaint / 1e6, visibleTiles, visibleSerialMs, visibleSerialMs / QThread::idealThreadCount(),
                QThread::idealThreadCount());
    std::printf("all thumbnails: %.0f ms; one after another on one thread: %.0f ms; ratio %.2f (goal <= 0.60)\n",
                allDone / 1e6, serialMs, allDone / 1e6 / serialMs);
    std::printf("longest busy stretch of the window thread: %.1f ms by the wall clock, %.1f ms of its own CPU time "
                "(goal <= 50)\n",
                longestBusy / 1e6, longestCpu / 1e6);
    std::printf("load average at the end: %s", LoadAverage().c_str());
    std::printf("peak resident memory: %.0f MB (goal <= 250)\n", peak);
    return 0;
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// The time from opening `folder` to its last thumbnail.
double TimeFolder(quillix::gallery::GalleryWindow& gallery, const std::string& folder)
{
    // A loop of its own: quitting the application's would close the gallery.
    QEventLoop loop;
    QElapsedTimer clock;
    double ms = -1;
    // The list is read anew after the call: until then the store still holds the last folder's.
    const int lastGeneration = gallery.thumbnails().Generation();
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (gallery.thumbnails().Generation() == lastGeneration || !gallery.thumbnails().Complete()) return;
        ms = clock.nsecsElapsed() / 1e6;
        watch.stop();
        loop.quit();
    });
    QTimer::singleShot(0, [&] {
        clock.start();
        gallery.Model().OpenFolder(folder + "/");
        watch.start();
    });
    loop.exec();
    return ms;
}

// The time from opening each folder to its last thumbnail, both folders in turn in one gallery,
// so that both meet the same load on a shared machine.
int MeasureStrong(int argc, char** argv, const std::string& dir, int runs)
{
    const std::string plainDir = dir + "/plain", strongDir = dir + "/strong";
    WarmCache(plainDir);
    WarmCache(strongDir);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    BenchGallery bench;
    if (!bench.unlocked) return 1;
    quillix::gallery::GalleryWindow& gallery = bench.gallery;
    const quillix::workers::WorkerPool& pool = bench.pool;
    gallery.show();
    gallery.resize(1280, 800);
    QApplication::processEvents();

    std::vector<double> plainMs, strongMs;
    int padlocks = 0;
    for (int r = 0; r < runs; ++r) {
        plainMs.push_back(TimeFolder(gallery, plainDir));
        quillix::container::ClearKeyCache();
        strongMs.push_back(TimeFolder(gallery, strongDir));
        for (int i = 0; i < gallery.Model().Count(); ++i)
            padlocks += gallery.thumbnails().KindAt(i) != quillix::gallery::ThumbnailKind::Picture;
    }
    if (padlocks > 0) {
        std::fprintf(stderr, "gallery_bench: %d strong thumbnails were not pictures\n", padlocks);
        return 1;
    }
    const double plain = Median(plainMs), strong = Median(strongMs);
    std::printf("%d pictures of 12 MP, %d cores, %u pool threads, %d runs each\n", gallery.Model().Count(),
                QThread::idealThreadCount(), pool.ThreadCount(), runs);
    std::printf("all thumbnails: plain %.0f ms, strong containers %.0f ms (medians); ratio %.2f (goal <= 1.20)\n",
                plain, strong, strong / plain);
    return 0;
}

// The same 12 MP photos as JPEG, as HEIC, and as HEIC with the 320-pixel thumbnail phones store
// (both HEICs single images: libheif 1.15 writes no grids). A few distinct pictures hard-linked
// under 100 names each: decoding costs the same whichever name is read.
int WritePhone(const std::filesystem::path& dir)
{
    constexpr int kDistinct = 4;
    const char* folders[] = {"jpeg", "heic", "heic-thumb"};
    for (const char* folder : folders)
        std::filesystem::create_directories(dir / folder);
    for (int i = 0; i < kDistinct; ++i) {
        const QImage photo = quillix::bench::PhotoLike(4000, 3000, static_cast<std::uint32_t>(i + 1));
        quillix::test::HeifPlan plan;
        plan.picture = photo;
        plan.quality = 90;
        const std::vector<std::uint8_t> heic = quillix::test::EncodeHeif(plan);
        plan.thumbnailBox = 320;
        const std::vector<std::uint8_t> withThumbnail = quillix::test::EncodeHeif(plan);
        const std::vector<std::vector<std::uint8_t>> bytes = {quillix::imaging::EncodeJpeg(photo, 90).value(), heic,
                                                              withThumbnail};
        const char* extensions[] = {".jpg", ".heic", ".heic"};
        for (std::size_t f = 0; f < std::size(folders); ++f) {
            char first[32];
            std::snprintf(first, sizeof first, "photo%03d%s", i, extensions[f]);
            Save(dir / folders[f] / first, bytes[f]);
            for (int n = i + kDistinct; n < kStrongPictures; n += kDistinct) {
                char name[32];
                std::snprintf(name, sizeof name, "photo%03d%s", n, extensions[f]);
                std::filesystem::remove(dir / folders[f] / name);
                std::filesystem::create_hard_link(dir / folders[f] / first, dir / folders[f] / name);
            }
        }
    }
    return 0;
}

// All thumbnails of the three folders WritePhone makes, in turn, RUNS times; medians and ratios.
int MeasurePhone(int argc, char** argv, const std::string& dir, int runs)
{
    const char* folders[] = {"jpeg", "heic", "heic-thumb"};
    for (const char* folder : folders)
        WarmCache(dir + "/" + folder);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    BenchGallery bench;
    if (!bench.unlocked) return 1;
    bench.gallery.show();
    bench.gallery.resize(1280, 800);
    QApplication::processEvents();
    std::vector<std::vector<double>> ms(std::size(folders));
    for (int r = 0; r < runs; ++r)
        for (std::size_t f = 0; f < std::size(folders); ++f)
            ms[f].push_back(TimeFolder(bench.gallery, dir + "/" + folders[f]));
    std::printf("%d pictures of 12 MP, %d cores, %u pool threads, %d runs each; all thumbnails (medians):\n",
                bench.gallery.Model().Count(), QThread::idealThreadCount(), bench.pool.ThreadCount(), runs);
    const double jpeg = Median(ms[0]);
    for (std::size_t f = 0; f < std::size(folders); ++f)
        std::printf("  %-10s %7.0f ms  (%.2f x JPEG)\n", folders[f], Median(ms[f]), Median(ms[f]) / jpeg);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::strcmp(argv[1], "--write") == 0) return Write(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--write-strong") == 0) return WriteStrong(argv[2]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--strong") == 0)
        return MeasureStrong(1, argv, argv[2], argc == 4 ? std::max(1, std::atoi(argv[3])) : 5);
    if (argc == 3 && std::strcmp(argv[1], "--write-phone") == 0) return WritePhone(argv[2]);
    if ((argc == 3 || argc == 4) && std::strcmp(argv[1], "--phone") == 0)
        return MeasurePhone(1, argv, argv[2], argc == 4 ? std::max(1, std::atoi(argv[3])) : 3);
    if (argc == 2) return Measure(argc, argv, argv[1]);
    std::fprintf(
        stderr,
        "usage: gallery_bench --write DIR | gallery_bench DIR | gallery_bench --write-strong DIR | "
        "gallery_bench --strong DIR [RUNS] | gallery_bench --write-phone DIR | gallery_bench --phone DIR [RUNS]\n");
    return 2;
}
