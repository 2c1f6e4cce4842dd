#include "container/file_crypto.h"
#include "gallery/thumbnail_store.h"
#include "settings/app_options.h"
#include "support/containers.h"
#include "support/picture_files.h"
#include "support/pool_drain.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "workers/worker_pool.h"

#include <QGuiApplication>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using quillix::gallery::ThumbnailKind;
using quillix::gallery::ThumbnailStore;

namespace {

constexpr const char* kPassword = "quillix";

// What the store told its listener, in order: a tile's index, or -1 for "several tiles".
struct Recorder : quillix::gallery::ThumbnailStoreListener {
    std::vector<int> told;
    void thumbnailChanged(int index) override { told.push_back(index); }
    void thumbnailsChanged() override { told.push_back(-1); }
};

// A store over a temporary folder's files, without any window, its jobs on a pool of one
// thread so that they end in the order they were handed out.
struct Rig {
    quillix::test::TempDir folder;
    quillix::browse::FileList files;
    quillix::test::ScriptedDialogs dialogs;
    quillix::container::FileCrypto crypto{dialogs, {}};
    quillix::settings::AppOptions options;
    Recorder listener;
    quillix::workers::WorkerPool pool{1};
    std::unique_ptr<ThumbnailStore> store;

    Rig()
    {
        options.FileNamePW = true;
        store = std::make_unique<ThumbnailStore>(files, crypto, options, listener);
        store->SetTileSize(128);
        store->SetPool(&pool);
    }
    // One JPEG file per size, so that a thumbnail tells its file.
    void Write(const std::vector<QSize>& sizes)
    {
        files.clear();
        for (const QSize& size : sizes) {
            files.push_back(folder / ("p" + std::to_string(files.size()) + ".jpg"));
            quillix::test::WriteJpeg(files.back(), size.width(), size.height());
        }
    }
    void Drain() { quillix::test::Drain(pool); }
};

// Sizes whose thumbnails for tiles of 128 (104 on the longer side) come out whole.
const std::vector<QSize> kWide{{64, 64}, {64, 32}, {64, 16}, {64, 8}, {32, 16}, {16, 8}};
const std::vector<QSize> kTall{{32, 64}, {16, 64}, {8, 64}};

// The thumbnail of `picture` for tiles of edge `tileSize`: its longer side fills the well.
QSize ThumbnailSize(QSize picture, int tileSize = 128)
{
    return picture * (tileSize - 24) / std::max(picture.width(), picture.height());
}

// Every tile's thumbnail is of the size made for tiles of edge `tileSize`.
bool AllMadeFor(const ThumbnailStore& store, const std::vector<QSize>& pictures, int tileSize)
{
    for (std::size_t i = 0; i < pictures.size(); ++i) {
        const QPixmap* made = store.At(static_cast<int>(i));
        if (!made || made->size() != ThumbnailSize(pictures[i], tileSize)) return false;
    }
    return true;
}

}  // namespace

class ThumbnailStoreTest : public QObject {
    Q_OBJECT

private slots:
    void madeInTheScheduleOrderTheTilesInViewFirst()
    {
        Rig rig;
        rig.Write(kWide);
        rig.store->Reset();
        rig.store->SetVisible(3, 4);
        rig.Drain();
        QCOMPARE(rig.listener.told, (std::vector<int>{3, 4, 0, 1, 2, 5}));
        QVERIFY(rig.store->Complete());
        for (int i = 0; i < 6; ++i) {
            QCOMPARE(rig.store->KindAt(i), ThumbnailKind::Picture);
            QCOMPARE(rig.store->At(i)->size(), ThumbnailSize(kWide[static_cast<std::size_t>(i)]));
        }
        QVERIFY(rig.store->At(6) == nullptr);
        QCOMPARE(rig.store->KindAt(-1), ThumbnailKind::None);
    }

    void heldStoresNothingAndResultsOfAnOlderListAreDropped()
    {
        Rig rig;
        bool held = true;
        rig.store->SetHold([&held] { return held; });
        rig.Write({kWide[0], kWide[1], kWide[2]});
        rig.store->Reset();
        rig.store->SetVisible(0, -1);
        rig.Drain();
        QVERIFY(rig.listener.told.empty());
        held = false;
        {
            quillix::test::HeldWorkers workers(rig.pool);
            QVERIFY(workers.AllHeld());
            rig.store->Pump();
            const int first = rig.store->Generation();
            // The list is made anew while the first list's jobs wait: other pictures now.
            rig.Write(kTall);
            rig.store->Reset();
            rig.store->SetVisible(0, -1);
            QCOMPARE(rig.store->Generation(), first + 1);
        }
        rig.Drain();
        QVERIFY(rig.store->Complete());
        QCOMPARE(rig.listener.told, (std::vector<int>{0, 1, 2}));
        for (int i = 0; i < 3; ++i)
            QCOMPARE(rig.store->At(i)->size(), ThumbnailSize(kTall[static_cast<std::size_t>(i)]));
    }

    void forgettingThePasswordPutsTheContainersPlaceholderBack()
    {
        Rig rig;
        rig.Write({kWide[1], kWide[2]});
        rig.files[0] = quillix::test::EncryptInPlace(rig.files[0], kPassword);
        rig.dialogs.passwords.push_back(std::string(kPassword));
        QVERIFY(rig.crypto.EnsurePassword(false));
        rig.store->Reset();
        rig.store->SetVisible(0, -1);
        rig.Drain();
        QCOMPARE(rig.store->KindAt(0), ThumbnailKind::Picture);
        QCOMPARE(rig.store->At(0)->size(), ThumbnailSize(kWide[1]));

        rig.crypto.ClearPassword();
        rig.listener.told.clear();
        rig.store->PasswordForgotten();
        QCOMPARE(rig.listener.told, std::vector<int>{-1});
        QCOMPARE(rig.store->KindAt(0), ThumbnailKind::Placeholder);
        QCOMPARE(rig.store->At(0)->size(), QSize(104, 104));
        QCOMPARE(rig.store->KindAt(1), ThumbnailKind::Picture);

        // Made anew without a password, the container gives its placeholder.
        rig.store->Reset();
        rig.store->SetVisible(0, -1);
        rig.Drain();
        QCOMPARE(rig.store->KindAt(0), ThumbnailKind::Placeholder);
        QCOMPARE(rig.store->KindAt(1), ThumbnailKind::Picture);
    }

    void aNewTileSizeRemakesTheTilesInViewFirstShowingTheOldOnesMeanwhile()
    {
        Rig rig;
        rig.Write(kWide);
        rig.store->Reset();
        rig.store->SetVisible(0, -1);
        rig.Drain();
        rig.listener.told.clear();
        const int first = rig.store->Generation();
        {
            quillix::test::HeldWorkers workers(rig.pool);
            QVERIFY(workers.AllHeld());
            rig.store->SetTileSize(256);
            rig.store->SetVisible(3, 4);
            QCOMPARE(rig.store->Generation(), first + 1);
            QVERIFY(!rig.store->Complete());
            // Until the new ones arrive the old ones stay, for the painter to scale.
            QVERIFY(AllMadeFor(*rig.store, kWide, 128));
            // The same size again (a resize of the window) starts nothing new.
            rig.store->SetTileSize(256);
            QCOMPARE(rig.store->Generation(), first + 1);
        }
        rig.Drain();
        QCOMPARE(rig.listener.told, (std::vector<int>{3, 4, 0, 1, 2, 5}));
        QVERIFY(rig.store->Complete());
        QVERIFY(AllMadeFor(*rig.store, kWide, 256));

        // Smaller tiles get thumbnails made for them too, not the large ones kept.
        rig.store->SetTileSize(64);
        rig.store->SetVisible(0, -1);
        rig.Drain();
        QVERIFY(AllMadeFor(*rig.store, kWide, 64));
    }

    void stepsInARowKeepOnlyTheLastSizesWork()
    {
        Rig rig;
        rig.Write(kWide);
        rig.store->Reset();
        rig.store->SetVisible(0, -1);
        rig.Drain();

        // Jobs of an older size that have not started yet end without making anything, and the
        // pool never holds more than its usual few jobs.
        rig.listener.told.clear();
        {
            quillix::test::HeldWorkers workers(rig.pool);
            QVERIFY(workers.AllHeld());
            for (const int size : {144, 160, 176, 192}) {
                rig.store->SetTileSize(size);
                rig.store->SetVisible(0, 1);
                QVERIFY(rig.pool.QueuedCount() <= 2);
            }
        }
        rig.Drain();
        QCOMPARE(rig.listener.told, (std::vector<int>{0, 1, 2, 3, 4, 5}));
        QVERIFY(AllMadeFor(*rig.store, kWide, 192));

        // Results of an older size made before the step are dropped when they arrive.
        rig.listener.told.clear();
        rig.store->SetTileSize(256);
        rig.store->SetVisible(0, 1);
        rig.pool.WaitIdle();  // made, and waiting for the window thread
        rig.store->SetTileSize(320);
        rig.store->SetVisible(0, 1);
        rig.Drain();
        QCOMPARE(rig.listener.told, (std::vector<int>{0, 1, 2, 3, 4, 5}));
        QVERIFY(AllMadeFor(*rig.store, kWide, 320));
    }

    void containersAreRemadeWithTheKnownPasswordAndPadlocksStayPadlocks()
    {
        Rig rig;
        const std::vector<QSize> pictures{kWide[1], kWide[2]};
        rig.Write(pictures);
        rig.files[0] = quillix::test::EncryptInPlace(rig.files[0], kPassword);
        rig.store->Reset();
        rig.store->SetVisible(0, -1);
        rig.Drain();
        QCOMPARE(rig.store->KindAt(0), ThumbnailKind::Placeholder);

        // A password entered later does not open a padlock, not even at a new size; the padlock
        // is redrawn at that size at once.
        rig.dialogs.passwords.push_back(std::string(kPassword));
        QVERIFY(rig.crypto.EnsurePassword(false));
        rig.listener.told.clear();
        rig.store->SetTileSize(256);
        QCOMPARE(rig.listener.told, std::vector<int>{-1});
        QCOMPARE(rig.store->At(0)->size(), QSize(232, 232));
        rig.store->SetVisible(0, -1);
        rig.Drain();
        QCOMPARE(rig.listener.told, (std::vector<int>{-1, 1}));
        QCOMPARE(rig.store->KindAt(0), ThumbnailKind::Placeholder);
        QCOMPARE(rig.store->At(0)->size(), QSize(232, 232));
        QCOMPARE(rig.store->At(1)->size(), ThumbnailSize(pictures[1], 256));

        // Once the list is made anew the picture shows, and a new size decrypts it again.
        rig.store->Reset();
        rig.store->SetVisible(0, -1);
        rig.Drain();
        QCOMPARE(rig.store->KindAt(0), ThumbnailKind::Picture);
        rig.store->SetTileSize(128);
        rig.store->SetVisible(0, -1);
        rig.Drain();
        QCOMPARE(rig.store->KindAt(0), ThumbnailKind::Picture);
        QVERIFY(AllMadeFor(*rig.store, pictures, 128));
    }

    void resultsArrivingAfterTheStoreIsGoneAreDropped()
    {
        Rig rig;
        rig.Write(kWide);
        {
            quillix::test::HeldWorkers workers(rig.pool);
            QVERIFY(workers.AllHeld());
            rig.store->Reset();
            rig.store->SetVisible(0, -1);
            rig.store.reset();
        }
        rig.Drain();
        QVERIFY(rig.listener.told.empty());
    }
};

int main(int argc, char** argv)
{
    QGuiApplication app(argc, argv);
    ThumbnailStoreTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "thumbnail_store_test.moc"
