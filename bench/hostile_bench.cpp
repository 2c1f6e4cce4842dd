// What files with hostile sizes cost: headers claiming a gigabyte of pixels over a few hundred
// bytes of data, one of every format.
//   hostile_bench [DIR]   writes the files into DIR (default: a new temporary folder): "four/"
//                         holds four copies of the 64-byte RLE8 bitmap claiming 16384 x 16384,
//                         "all/" one file of every case. Prints the peak resident memory of the
//                         gallery (offscreen, tile size 128) on each folder (goal < 400 MB), then
//                         for every file the longest of 5 thumbnails and of 5 full decodes (goal:
//                         refused within 100 ms).
#include "gallery/gallery_window.h"
#include "gallery/thumbnail_maker.h"
#include "imaging/still_decoder.h"
#include "support/hostile_files.h"
#include "support/scripted_dialogs.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

void Save(const fs::path& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

const char* Extension(quillix::imaging::ImageFormat format)
{
    using quillix::imaging::ImageFormat;
    switch (format) {
    case ImageFormat::Bmp: return ".bmp";
    case ImageFormat::Gif: return ".gif";
    case ImageFormat::Png: return ".png";
    case ImageFormat::Jpeg: return ".jpg";
    case ImageFormat::WebP: return ".webp";
    case ImageFormat::Heif: return ".heic";
    case ImageFormat::Tiff: return ".tif";
    case ImageFormat::Jxl: return ".jxl";
    case ImageFormat::Unknown: break;
    }
    return ".bin";
}

long StatusMb(const std::string& field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.starts_with(field)) return std::stol(line.substr(field.size())) / 1024;
    return -1;
}

// Peak resident memory from here on; false where the kernel does not allow the reset.
bool ResetResidentPeak()
{
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// The gallery on `dir` until every thumbnail is made, on a pool of one worker per core.
void GalleryOn(quillix::gallery::GalleryWindow& gallery, const fs::path& dir)
{
    const bool resettable = ResetResidentPeak();
    const long before = StatusMb("VmRSS:");
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer watch;
    watch.setInterval(1);
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (gallery.thumbnails().Complete()) loop.quit();
    });
    QTimer::singleShot(0, [&] {
        gallery.Model().OpenFolder(dir.string() + "/");
        watch.start();
    });
    loop.exec();
    std::printf("gallery on %s (%d files): all thumbnails in %.0f ms; resident memory %ld MB before, peak %ld MB%s "
                "(goal < 400)\n",
                dir.filename().c_str(), gallery.Model().Count(), clock.nsecsElapsed() / 1e6, before, StatusMb("VmHWM:"),
                resettable ? "" : " (peak of the whole run: the kernel keeps it)");
}

double LongestMs(int runs, const std::function<void()>& work)
{
    double longest = 0;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer clock;
        clock.start();
        work();
        longest = std::max(longest, clock.nsecsElapsed() / 1e6);
    }
    return longest;
}

}  // namespace

int main(int argc, char** argv)
{
    const fs::path dir = argc > 1 ? fs::path(argv[1]) : fs::temp_directory_path() / "quillix-hostile-bench";
    fs::create_directories(dir / "four");
    fs::create_directories(dir / "all");
    const std::vector<quillix::test::HostileFile> files = quillix::test::HostileFiles();
    for (int i = 0; i < 4; ++i)
        Save(dir / "four" / ("rle8-" + std::to_string(i) + ".bmp"), files.front().bytes);
    std::vector<fs::path> paths;
    for (std::size_t i = 0; i < files.size(); ++i) {
        paths.push_back(dir / "all" / ("case" + std::to_string(i) + Extension(files[i].format)));
        Save(paths.back(), files[i].bytes);
    }

    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    quillix::test::ScriptedDialogs dialogs;
    const fs::path config = fs::temp_directory_path() / "quillix-hostile-bench-config";
    fs::create_directories(config);
    quillix::session::Session session(quillix::session::SessionEnvironment{&dialogs, config.string() + "/", nullptr});
    quillix::viewer::ViewerEnvironment environment;
    quillix::viewer::ViewerWindow viewer(session, std::move(environment));
    session.AppSettings().PushInt("TILE_SIZE", 128);
    quillix::gallery::GalleryWindow gallery(session, viewer);
    viewer.setGallery(&gallery);
    quillix::workers::WorkerPool pool;
    gallery.setWorkerPool(&pool);
    gallery.show();
    gallery.resize(1280, 800);
    QApplication::processEvents();
    std::printf("%d cores, %u pool threads\n", QThread::idealThreadCount(), pool.ThreadCount());
    GalleryOn(gallery, dir / "four");
    GalleryOn(gallery, dir / "all");

    std::printf("%-48s %6s %14s %14s\n", "file", "bytes", "thumbnail ms", "full decode ms");
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string path = paths[i].string();
        bool shown = false;
        const double thumbnail = LongestMs(5, [&] {
            shown =
                quillix::gallery::MakeThumbnail({path, "", true, 128}).kind == quillix::gallery::ThumbnailKind::Picture;
        });
        bool decoded = false;
        const double full = LongestMs(5, [&] { decoded = quillix::imaging::DecodeStillFile(path).ok(); });
        std::printf("%-48s %6zu %14.1f %14.1f%s\n", files[i].name.c_str(), files[i].bytes.size(), thumbnail, full,
                    shown || decoded ? "  (NOT REFUSED)" : "");
    }
    return 0;
}
