#pragma once

#include "common/paths.h"
#include "gallery/gallery_window.h"
#include "gallery/tile_layout.h"
#include "support/pool_drain.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QtTest>

#include <memory>
#include <set>
#include <string>
#include <vector>

namespace quillix::test {

// A viewer and its gallery over a temporary picture folder sorted by name, with scripted dialogs
// of type `Dialogs`, the settings file in a folder of its own, and a pool of their own.
template <class Dialogs = ScriptedDialogs> struct GalleryRig {
    TempDir pictures;
    TempDir config;
    Dialogs dialogs;
    std::unique_ptr<quillix::session::Session> session;
    std::unique_ptr<viewer::ViewerWindow> viewer;
    std::unique_ptr<gallery::GalleryWindow> gallery;
    std::unique_ptr<workers::WorkerPool> pool;
    // The keyboard state the window reads as held.
    Qt::KeyboardModifiers held = Qt::NoModifier;

    explicit GalleryRig(unsigned threads = 2)
    {
        qputenv("XDG_CONFIG_HOME", QByteArray::fromStdString(config.path()));
        session = std::make_unique<quillix::session::Session>(
            quillix::session::SessionEnvironment{&dialogs, config.path() + "/", nullptr});
        viewer::ViewerEnvironment environment;
        environment.screenSize = [] { return viewer::Size{1920, 1080}; };
        environment.quit = [](int) {};
        viewer = std::make_unique<viewer::ViewerWindow>(*session, std::move(environment));
        session->Options().SortMode = 1;  // by name
        gallery = std::make_unique<gallery::GalleryWindow>(*session, *viewer);
        viewer->setGallery(gallery.get());
        pool = std::make_unique<workers::WorkerPool>(threads);
        gallery->setWorkerPool(pool.get());
        gallery->setHeldModifiers([this] { return held; });
    }
    ~GalleryRig()
    {
        pool->Shutdown();
        viewer->setGallery(nullptr);
        gallery.reset();
        viewer.reset();
    }
    GalleryRig(const GalleryRig&) = delete;
    GalleryRig& operator=(const GalleryRig&) = delete;

    std::string operator/(const std::string& name) const { return pictures / name; }
    int Index(const std::string& name) const { return gallery->Model().IndexOfFile(pictures / name); }

    // The gallery shown at the picture folder, 1000 × 700.
    void Show()
    {
        gallery->Model().OpenFolder(pictures.path() + "/");
        gallery->resize(1000, 700);
        gallery->show();
        QVERIFY(QTest::qWaitForWindowExposed(gallery.get()));
    }
    QWidget* Canvas() const { return reinterpret_cast<QWidget*>(gallery->canvas()); }
    // The centre of tile `index`'s square, in canvas coordinates.
    QPoint TileCentre(int index) const
    {
        const gallery::Rect r = gallery::TileRect(gallery->Layout(), index);
        return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
    }
    void Key(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        held = modifiers;
        QTest::keyClick(gallery.get(), static_cast<Qt::Key>(key), modifiers);
        held = Qt::NoModifier;
    }
    std::vector<std::string> SelectedNames() const
    {
        std::vector<std::string> names;
        for (const int i : gallery->Model().SelectedIndices())
            names.push_back(FileNameOf(gallery->Model().Files().at(static_cast<std::size_t>(i))));
        return names;
    }
    // Until both windows' work is done and handed over (see test::Drain).
    void Drain() { test::Drain({pool.get(), &session->Pool()}); }
    // Whether `runs` batch runs have finished once the work is drained.
    bool WaitForRuns(int runs)
    {
        Drain();
        return gallery->FinishedBatchRuns() >= runs;
    }
    std::set<std::string> Names() const { return FileNames(pictures); }
};

}  // namespace quillix::test
