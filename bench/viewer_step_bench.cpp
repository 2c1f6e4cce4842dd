// How long a step takes in the viewer, and whether the window thread ever stalls: an offscreen
// viewer steps through a folder of 24-megapixel JPEGs, one Right key a second sent through Qt's
// event queue, and the time from each key to the new picture painted is set against the time one
// such picture takes to decode on one thread. A 1 ms timer on the window thread measures the
// longest stretch the thread was busy. Goals: a step ≤ 0.2 × the decode once the preload is warm,
// and no busy stretch above 50 ms.
//   viewer_step_bench [FOLDER]   FOLDER holds (or gets) the 20 pictures; a temporary folder by default
// Build it in the release preset for figures that mean anything.
#include "bench_pictures.h"
#include "common/dialogs.h"
#include "gallery/gallery_window.h"
#include "imaging/jpeg_codec.h"
#include "imaging/still_decoder.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QTimer>
#include <QWheelEvent>

#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kPictures = 20;
constexpr int kWidth = 6000, kHeight = 4000;
constexpr int kStepIntervalMs = 1000;
constexpr int kKeyRepeatMs = 33;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

double Median(std::vector<double> values)
{
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

using quillix::bench::PhotoLike;

std::vector<std::string> MakeFolder(const fs::path& folder)
{
    fs::create_directories(folder);
    std::vector<std::string> paths;
    for (int i = 0; i < kPictures; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "photo%02d.jpg", i + 1);
        const fs::path path = folder / name;
        paths.push_back(path.string());
        if (fs::exists(path)) continue;
        std::fprintf(stderr, "writing %s\n", path.c_str());
        const auto bytes =
            quillix::imaging::EncodeJpeg(PhotoLike(kWidth, kHeight, static_cast<std::uint32_t>(i + 1)), 90);
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.value().data()),
                  static_cast<std::streamsize>(bytes.value().size()));
    }
    return paths;
}

double ThreadCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1000 + static_cast<double>(t.tv_nsec) / 1e6;
}

struct DecodeTime {
    double wallMs = 0;
    double cpuMs = 0;
};

// Median of a full decode of each of the first few pictures on this thread, file read included.
DecodeTime DecodeMs(const std::vector<std::string>& paths)
{
    std::vector<double> wall, cpu;
    for (std::size_t i = 0; i < 5 && i < paths.size(); ++i) {
        const Clock::time_point start = Clock::now();
        const double cpuStart = ThreadCpuMs();
        if (!quillix::imaging::DecodeStillFile(paths[i])) std::fprintf(stderr, "decode failed: %s\n", paths[i].c_str());
        wall.push_back(Ms(Clock::now() - start));
        cpu.push_back(ThreadCpuMs() - cpuStart);
    }
    return {Median(wall), Median(cpu)};
}

// The same for what a worker does per picture: the decode and the copy shrunk to the fit.
DecodeTime WorkerJobMs(const std::vector<std::string>& paths, const quillix::container::FileCrypto& crypto)
{
    const quillix::viewer::PictureSettings settings{{1920, 1080}, {}, false};
    std::vector<double> wall, cpu;
    for (std::size_t i = 0; i < 5 && i < paths.size(); ++i) {
        const Clock::time_point start = Clock::now();
        const double cpuStart = ThreadCpuMs();
        quillix::viewer::DecodeForViewer(paths[i], crypto, settings);
        wall.push_back(Ms(Clock::now() - start));
        cpu.push_back(ThreadCpuMs() - cpuStart);
    }
    return {Median(wall), Median(cpu)};
}

class NoDialogs : public quillix::Dialogs {
public:
    std::optional<quillix::TypedPassword> AskPassword(quillix::PasswordPrompt, const std::string&) override
    {
        return std::nullopt;
    }
    quillix::MessageAnswer ShowMessage(const std::string&, const std::string&, quillix::MessageIcon,
                                       quillix::MessageButtons) override
    {
        return quillix::MessageAnswer::No;
    }
    std::optional<std::string> InputText(const std::string&, const std::string&, const std::string&) override
    {
        return std::nullopt;
    }
    std::optional<std::string> SelectSubfolder(const std::string&) override { return std::nullopt; }
};

// Notes when a paint of the viewer ends and what it showed: the paint is run from here so that
// its end can be timed.
class PaintWatch : public QObject {
public:
    explicit PaintWatch(quillix::viewer::ViewerWindow& viewer) : viewer_(viewer) { viewer.installEventFilter(this); }

    std::string waitingFor;
    Clock::time_point painted;

    bool eventFilter(QObject* object, QEvent* event) override
    {
        if (object != &viewer_ || event->type() != QEvent::Paint) return false;
        static_cast<QObject&>(viewer_).event(event);  // QWidget::event is protected; QObject::event is not
        if (!waitingFor.empty() && viewer_.CurrentPath() == waitingFor && viewer_.PaintSource()) {
            painted = Clock::now();
            waitingFor.clear();
        }
        return true;
    }

private:
    quillix::viewer::ViewerWindow& viewer_;
};

// Times every event the window thread handles, from its dispatch to its return: the longest one is
// the longest the thread was busy at a stretch. The wall clock counts time the thread waited for
// the disk or for a core; the thread's CPU time counts only its own work, which on a machine
// shared with other jobs is the fairer figure.
class TimedApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
    {
        if (!measuring || depth_ > 0) return QApplication::notify(receiver, event);
        ++depth_;
        const Clock::time_point start = Clock::now();
        const double cpu = ThreadCpuMs();
        const bool handled = QApplication::notify(receiver, event);
        longestWall = std::max(longestWall, Ms(Clock::now() - start));
        longestCpu = std::max(longestCpu, ThreadCpuMs() - cpu);
        --depth_;
        return handled;
    }
    void Measure()
    {
        longestWall = longestCpu = 0;
        measuring = true;
    }

    bool measuring = false;
    double longestWall = 0;
    double longestCpu = 0;

private:
    int depth_ = 0;
};

void PostKey(QWidget& target, int key)
{
    QCoreApplication::postEvent(&target, new QKeyEvent(QEvent::KeyPress, key, Qt::NoModifier));
    QCoreApplication::postEvent(&target, new QKeyEvent(QEvent::KeyRelease, key, Qt::NoModifier));
}

// Runs the event loop until `done` or `timeoutMs`.
bool SpinUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!done()) {
        if (timer.elapsed() > timeoutMs) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path folder = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "quillix-viewer-step-bench";
    const fs::path config = fs::temp_directory_path() / "quillix-viewer-step-bench-config";
    fs::create_directories(config);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        // An offscreen screen of a common desktop size: what a step paints depends on it.
        const fs::path screens = config / "screens.json";
        std::ofstream(screens) << R"({"screens":[{"name":"bench","x":0,"y":0,"width":1920,"height":1080,)"
                               << R"("logicalDpi":96,"logicalBaseDpi":96,"dpr":1}]})";
        qputenv("QT_QPA_PLATFORM", QByteArray("offscreen:configfile=") + screens.c_str());
    }
    TimedApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    const std::vector<std::string> paths = MakeFolder(folder);
    const DecodeTime decode = DecodeMs(paths);
    const double decodeMs = decode.wallMs;

    NoDialogs dialogs;
    quillix::workers::WorkerPool pool;
    quillix::session::Session session(quillix::session::SessionEnvironment{&dialogs, config.string() + "/", &pool});
    quillix::viewer::ViewerEnvironment environment;
    environment.quit = [](int) {};
    quillix::viewer::ViewerWindow viewer(session, std::move(environment));
    session.Options().SortMode = 1;
    quillix::gallery::GalleryWindow gallery(session, viewer);
    viewer.setGallery(&gallery);
    const DecodeTime job = WorkerJobMs(paths, session.Crypto());
    PaintWatch paints(viewer);

    // The first picture, cold.
    viewer.StartGalleryMode();
    gallery.Model().OpenFolder(folder.string() + "/");
    Clock::time_point start = Clock::now();
    paints.waitingFor = paths.front();
    viewer.OpenFromGallery(paths.front());
    if (!SpinUntil([&] { return paints.waitingFor.empty(); }, 30000)) {
        std::fprintf(stderr, "the first picture never showed\n");
        return 1;
    }
    const double firstMs = Ms(paints.painted - start);

    // One step a second: the preload is normally warm by then. Steps onto a picture that was
    // not decoded yet (a machine too busy to finish the preload within the second) count apart.
    std::vector<double> warm, cold;
    application.Measure();
    for (std::size_t i = 1; i < paths.size(); ++i) {
        SpinUntil([] { return false; }, kStepIntervalMs);
        const std::vector<std::string> kept = viewer.Pipeline().KeptPaths();
        const bool preloaded = std::find(kept.begin(), kept.end(), paths[i]) != kept.end();
        paints.waitingFor = paths[i];
        start = Clock::now();
        PostKey(viewer, Qt::Key_Right);
        if (!SpinUntil([&] { return paints.waitingFor.empty(); }, 30000)) {
            std::fprintf(stderr, "step %zu never showed\n", i);
            return 1;
        }
        (preloaded ? warm : cold).push_back(Ms(paints.painted - start));
    }
    SpinUntil([] { return false; }, kStepIntervalMs);
    const double steadyWall = application.longestWall, steadyCpu = application.longestCpu;

    // A held key: steps back as fast as the key repeats; the window must keep up without stalling.
    application.Measure();
    start = Clock::now();
    for (std::size_t i = 1; i < paths.size(); ++i) {
        PostKey(viewer, Qt::Key_Left);
        SpinUntil([] { return false; }, kKeyRepeatMs);
    }
    paints.waitingFor = paths.front();
    SpinUntil([&] { return paints.waitingFor.empty() && !viewer.LoadPending(); }, 30000);
    const double heldMs = Ms(Clock::now() - start);
    const double heldWall = application.longestWall, heldCpu = application.longestCpu;

    // Wheel zoom on the shown picture, a notch every 200 ms, in and then out.
    application.Measure();
    for (int notch = 0; notch < 8; ++notch) {
        const QPointF at(960, 540);
        QCoreApplication::postEvent(&viewer,
                                    new QWheelEvent(at, at, QPoint(), QPoint(0, notch < 4 ? -120 : 120), Qt::NoButton,
                                                    Qt::ControlModifier, Qt::NoScrollPhase, false));
        SpinUntil([] { return false; }, 200);
    }
    application.measuring = false;

    const double median = Median(warm);
    std::printf("pictures                     %d JPEGs of %d x %d, screen 1920 x 1080, %u workers\n", kPictures, kWidth,
                kHeight, pool.ThreadCount());
    std::printf("decode, one thread (median)  %8.1f ms (%.1f ms of it on the CPU)\n", decodeMs, decode.cpuMs);
    std::printf("worker job (decode + fit)    %8.1f ms (%.1f ms of it on the CPU)\n", job.wallMs, job.cpuMs);
    std::printf("first picture, cold          %8.1f ms\n", firstMs);
    std::printf("step onto the preload        %8.1f ms median from key to painted, of %zu steps:", median, warm.size());
    for (const double ms : warm)
        std::printf(" %.0f", ms);
    std::printf("\n");
    std::printf("step, preload not ready      %zu steps:", cold.size());
    for (const double ms : cold)
        std::printf(" %.0f", ms);
    std::printf(" ms\n");
    std::printf("step / decode                %8.3f   (goal <= 0.2)  %s\n", median / decodeMs,
                !warm.empty() && median <= 0.2 * decodeMs ? "met" : "MISSED");
    std::printf("longest busy stretch         %8.1f ms on the CPU, %.1f ms by the wall clock (goal <= 50 ms)  %s\n",
                steadyCpu, steadyWall, steadyCpu <= 50 ? "met" : "MISSED");
    std::printf("held key, %d steps at %d ms   %8.1f ms to the last picture; longest busy stretch %.1f ms on the CPU, "
                "%.1f ms by the wall clock\n",
                kPictures - 1, kKeyRepeatMs, heldMs, heldCpu, heldWall);
    std::printf("wheel zoom, 8 notches        longest busy stretch %.1f ms on the CPU, %.1f ms by the wall clock\n",
                application.longestCpu, application.longestWall);
    return 0;
}
