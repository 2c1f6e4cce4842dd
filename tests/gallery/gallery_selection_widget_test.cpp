// What the user chose in the gallery is what the commands act on: the selection and the current
// tile follow their files when the list is rebuilt, another folder starts with nothing chosen,
// a double click opens the tile under the click, and the delete question names its files.

#include "common/paths.h"
#include "gallery/delete_dialog.h"
#include "gallery/gallery_window.h"
#include "support/gallery_rig.h"
#include "support/picture_files.h"
#include "support/scripted_dialogs.h"
#include "support/temp_dir.h"
#include "support/when_shown.h"
#include "viewer/viewer_window.h"
#include "workers/worker_pool.h"

#include <QApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QScrollBar>
#include <QWheelEvent>
#include <QtTest>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <vector>

using quillix::gallery::DeleteFilesDialog;
using quillix::test::HeldWorkers;
using quillix::test::WriteJpeg;

namespace {

constexpr const char* kPassword = "quillix";
constexpr std::size_t kHalfMiB = 524288;

// A viewer and its gallery over a temporary picture folder, with what these tests do.
struct Rig : quillix::test::GalleryRig<> {
    void Click(const std::string& name, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
    {
        QTest::mouseClick(Canvas(), Qt::LeftButton, modifiers, TileCentre(Index(name)));
    }
    std::string CurrentName() const { return quillix::FileNameOf(gallery->Model().CurrentFileName()); }
};

// Answers the "Delete files" dialog with `button` once shown, and keeps its question.
void AnswerDeleteDialog(const QString& button, QString* question)
{
    quillix::test::WhenShown<DeleteFilesDialog>([button, question](DeleteFilesDialog* dialog) {
        *question = dialog->findChild<QLabel*>()->text();
        for (QPushButton* b : dialog->findChildren<QPushButton*>())
            if (b->text() == button) b->click();
    });
}

// How many "Delete files" dialogs opened while `act` ran; each is cancelled.
int DeleteDialogsDuring(const std::function<void()>& act)
{
    int opened = 0;
    QTimer watch;
    watch.setInterval(0);
    QObject::connect(&watch, &QTimer::timeout, [&opened] {
        for (QWidget* w : QApplication::topLevelWidgets()) {
            if (auto* dialog = qobject_cast<DeleteFilesDialog*>(w); dialog && dialog->isVisible()) {
                ++opened;
                dialog->reject();
            }
        }
    });
    watch.start();
    act();
    QCoreApplication::processEvents();
    return opened;
}

void SendMouse(QWidget* widget, QEvent::Type type, QPoint pos, Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), widget->mapToGlobal(QPointF(pos)), Qt::LeftButton, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

}  // namespace

class GallerySelectionTest : public QObject {
    Q_OBJECT

private slots:
    // F5 and the viewer's OpenFolder rebuild the list; a file added before the chosen ones must
    // not move the selection, the current tile, or what Del and F2 then act on.
    void rebuildsKeepTheChosenFilesWhenOneIsAddedBefore()
    {
        Rig rig;
        for (const char* name : {"b.jpg", "c.jpg", "d.jpg", "e.jpg"})
            quillix::test::WriteFile(rig / name, std::string(kHalfMiB, 'x'));
        rig.Show();
        QCOMPARE(rig.gallery->Model().CurrentIndex(), -1);

        rig.Click("e.jpg");
        rig.Click("c.jpg", Qt::ControlModifier);
        quillix::test::WriteFile(rig / "a.jpg", std::string(kHalfMiB, 'x'));
        rig.Key(Qt::Key_F5);
        QCOMPARE(rig.Index("a.jpg"), 0);
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"e.jpg", "c.jpg"}));
        QCOMPARE(rig.CurrentName(), std::string("c.jpg"));

        quillix::test::WriteFile(rig / "0.jpg", std::string(kHalfMiB, 'x'));
        rig.gallery->Model().OpenFolder(rig.pictures.path() + "/");
        QCOMPARE(rig.Index("0.jpg"), 0);
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"e.jpg", "c.jpg"}));
        QCOMPARE(rig.CurrentName(), std::string("c.jpg"));

        QString question;
        AnswerDeleteDialog("Cancel", &question);
        rig.Key(Qt::Key_Delete);
        QCOMPARE(question, QStringLiteral("Really delete 2 file(s)?\ne.jpg\nc.jpg\nTotal size: 1.00 MB"));

        rig.Click("d.jpg");
        quillix::test::WriteFile(rig / "00.jpg", std::string(kHalfMiB, 'x'));
        rig.Key(Qt::Key_F5);
        rig.Key(Qt::Key_F2);
        QCOMPARE(rig.dialogs.inputsAsked.size(), std::size_t{1});
        QCOMPARE(rig.dialogs.inputsAsked[0].initial, std::string("d.jpg"));
        QCOMPARE(rig.Names().size(), std::size_t{7});
    }

    // The end of a delete run rebuilds the list: the current file went with it, and no
    // neighbour takes its place for E, F2 or R to act on.
    void aFinishedDeleteRunLeavesNoNeighbourChosen()
    {
        Rig rig;
        for (const char* name : {"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"})
            quillix::test::WriteFile(rig / name, std::string(kHalfMiB, 'x'));
        rig.Show();
        rig.Click("b.jpg");
        rig.Click("c.jpg", Qt::ShiftModifier);
        QCOMPARE(rig.CurrentName(), std::string("c.jpg"));
        QString question;
        AnswerDeleteDialog("Normal delete", &question);
        rig.Key(Qt::Key_Delete);
        QVERIFY(rig.WaitForRuns(1));
        QCOMPARE(rig.Names(), (std::set<std::string>{"a.jpg", "d.jpg", "e.jpg"}));
        QVERIFY(rig.gallery->Model().SelectedIndices().empty());
        QCOMPARE(rig.gallery->Model().CurrentIndex(), -1);

        rig.dialogs.passwords = {kPassword};
        for (const int key : {int(Qt::Key_E), int(Qt::Key_D), int(Qt::Key_R), int(Qt::Key_F2), int(Qt::Key_Return)})
            rig.Key(key);
        QCoreApplication::processEvents();
        QCOMPARE(rig.dialogs.passwordPrompts, 0);
        QVERIFY(rig.dialogs.inputsAsked.empty());
        QCOMPARE(rig.gallery->FinishedBatchRuns(), 1);
        QVERIFY(!rig.gallery->BatchActive());
        QVERIFY(!rig.viewer->isVisible());
        QCOMPARE(rig.Names(), (std::set<std::string>{"a.jpg", "d.jpg", "e.jpg"}));
    }

    // An encryption run ends by selecting its containers, by path, whatever appeared meanwhile.
    void aFinishedRunSelectsItsFilesByPath()
    {
        Rig rig;
        for (const char* name : {"b.jpg", "c.jpg", "d.jpg"})
            WriteJpeg(rig / name, 24, 16);
        rig.session->Options().Passes = 1;
        rig.Show();
        rig.Click("d.jpg");
        rig.Click("b.jpg", Qt::ControlModifier);
        {
            HeldWorkers held(*rig.pool);
            QVERIFY(held.AllHeld());
            rig.dialogs.passwords = {kPassword};
            rig.Key(Qt::Key_E);
            QVERIFY(rig.gallery->BatchActive());
            WriteJpeg(rig / "a.jpg", 24, 16);
        }
        QVERIFY(rig.WaitForRuns(1));
        QCOMPARE(rig.Names(), (std::set<std::string>{"$b.jpg", "$d.jpg", "a.jpg", "c.jpg"}));
        QCOMPARE(rig.SelectedNames(), (std::vector<std::string>{"$d.jpg", "$b.jpg"}));
        // The current file stays current under its new name.
        QCOMPARE(rig.CurrentName(), std::string("$b.jpg"));
    }

    // Another folder leaves nothing current or selected: the commands do nothing until the user
    // picks a tile, and the first arrow key starts at the first tile in view.
    void anotherFolderLeavesNothingChosenUntilTheUserPicks()
    {
        Rig rig;
        std::filesystem::create_directory(rig / "sub");
        for (const char* name : {"a.jpg", "b.jpg", "sub/c.jpg", "sub/d.jpg"})
            quillix::test::WriteFile(rig / name, std::string(100, 'x'));
        rig.Show();
        rig.Click("b.jpg");

        struct Change {
            const char* what;
            std::function<void()> go;
            std::string first;
        };
        const Change changes[] = {
            {"OpenFolder", [&rig] { rig.gallery->Model().OpenFolder(rig / "sub/"); }, "c.jpg"},
            {"Folder up", [&rig] { rig.gallery->FolderUp(); }, "a.jpg"},
        };
        for (const Change& change : changes) {
            change.go();
            QVERIFY2(rig.gallery->Model().CurrentIndex() == -1, change.what);
            QVERIFY2(rig.gallery->Model().SelectedIndices().empty(), change.what);
            QCOMPARE(rig.gallery->Model().AnchorIndex(), -1);

            const int deleteDialogs = DeleteDialogsDuring([&rig] {
                rig.dialogs.passwords = {kPassword};
                for (const int key : {int(Qt::Key_Return), int(Qt::Key_F2), int(Qt::Key_Delete), int(Qt::Key_E),
                                      int(Qt::Key_D), int(Qt::Key_R), int(Qt::Key_Space)})
                    rig.Key(key);
            });
            QCOMPARE(deleteDialogs, 0);
            QCOMPARE(rig.dialogs.passwordPrompts, 0);
            QVERIFY(rig.dialogs.inputsAsked.empty());
            QVERIFY(!rig.viewer->isVisible());
            QVERIFY(!rig.gallery->BatchActive());
            QCOMPARE(rig.gallery->FinishedBatchRuns(), 0);
            QVERIFY(rig.gallery->Model().SelectedIndices().empty());

            rig.Key(Qt::Key_Right);
            QCOMPARE(rig.CurrentName(), change.first);
            QCOMPARE(rig.SelectedNames(), std::vector<std::string>{change.first});
            rig.Key(Qt::Key_Right);
            QVERIFY2(rig.CurrentName() != change.first, change.what);
        }
    }

    void theFirstArrowKeyStartsAtTheFirstTileInView()
    {
        Rig rig;
        for (int i = 0; i < 90; ++i)
            quillix::test::WriteFile(rig / ("f" + std::to_string(100 + i) + ".jpg"), std::string(10, 'x'));
        rig.Show();
        const int columns = rig.gallery->Layout().Columns;
        QScrollBar* bar = rig.gallery->scrollArea()->verticalScrollBar();
        const int rowTwo = 12 + 2 * quillix::gallery::RowPitch(rig.gallery->Layout().TileSize);
        QVERIFY(bar->maximum() >= rowTwo);
        bar->setValue(rowTwo);
        rig.Key(Qt::Key_Down);
        QCOMPARE(rig.gallery->Model().CurrentIndex(), 2 * columns);
        QCOMPARE(rig.gallery->Model().SelectedIndices(), std::vector<int>{2 * columns});
        QCOMPARE(bar->value(), rowTwo);
    }

    // The canvas scrolls under a pointer that stays put: the double click's own position names
    // the tile, not the pointer's last move. Stepping in the viewer then still carries the
    // gallery along.
    void doubleClickAfterAWheelOpensTheTileUnderTheClick()
    {
        Rig rig;
        for (int i = 0; i < 60; ++i)
            WriteJpeg(rig / ("f" + std::to_string(100 + i) + ".jpg"), 24, 16);
        rig.viewer->StartGalleryMode();
        rig.Show();
        QWidget* canvas = rig.Canvas();
        const QPoint pointer = rig.TileCentre(1);
        QTest::mouseMove(canvas, pointer);

        QWidget* viewport = rig.gallery->scrollArea()->viewport();
        const QPointF at(viewport->width() / 2.0, viewport->height() / 2.0);
        QWheelEvent wheel(at, viewport->mapToGlobal(at), QPoint(), QPoint(0, -480), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(viewport, &wheel);
        const int scrolled = rig.gallery->scrollArea()->verticalScrollBar()->value();
        QVERIFY(scrolled > 0);
        const QPoint click = pointer + QPoint(0, scrolled);
        const int under = quillix::gallery::TileIndexAt(rig.gallery->Layout(), {click.x(), click.y()},
                                                        rig.gallery->CurrentViewport());
        QVERIFY(under > 1);

        SendMouse(canvas, QEvent::MouseButtonPress, click, Qt::LeftButton);
        SendMouse(canvas, QEvent::MouseButtonRelease, click, Qt::NoButton);
        SendMouse(canvas, QEvent::MouseButtonDblClick, click, Qt::LeftButton);
        SendMouse(canvas, QEvent::MouseButtonRelease, click, Qt::NoButton);
        rig.Drain();
        QVERIFY(rig.viewer->isVisible());
        const std::string opened = rig.gallery->Model().Files().at(static_cast<std::size_t>(under));
        QCOMPARE(rig.viewer->CurrentPath(), opened);

        QTest::keyClick(rig.viewer.get(), Qt::Key_Right);
        const std::string next = rig.gallery->Model().Files().at(static_cast<std::size_t>(under + 1));
        rig.Drain();
        QCOMPARE(rig.viewer->CurrentPath(), next);
        QTest::keyClick(rig.viewer.get(), Qt::Key_Escape);
        rig.Drain();
        QVERIFY(rig.gallery->isVisible());
        QCOMPARE(rig.gallery->Model().CurrentFileName(), next);
        QCOMPARE(rig.gallery->Model().SelectedIndices(), std::vector<int>{under + 1});
    }

    // The question names one file, all of three, and three of five with the rest counted; names
    // are shown as plain text on lines of their own, a long one shortened in its middle, and the
    // dialog grows so that the buttons stay below the question.
    void deleteQuestionNamesTheFiles()
    {
        const std::string longName = std::string(120, 'n') + "-end.jpg";
        struct Case {
            const char* what;
            std::vector<std::string> names;
            QString expected;  // empty: checked by the lines below
        };
        const Case cases[] = {
            {"one", {"photo.jpg"}, "Really delete 1 file(s)?\nphoto.jpg\nTotal size: 1.25 MB"},
            {"three",
             {"c.jpg", "a.jpg", "$b.png"},
             "Really delete 3 file(s)?\nc.jpg\na.jpg\n$b.png\nTotal size: 1.25 MB"},
            {"five",
             {"c.jpg", "a.jpg", "$b.png", "d.gif", "e.bmp"},
             "Really delete 5 file(s)?\nc.jpg\na.jpg\n$b.png\nand 2 more\nTotal size: 1.25 MB"},
            {"hostile names",
             {"two\nlines.jpg", "<b>bold</b>.jpg"},
             QString::fromUtf8(
                 "Really delete 2 file(s)?\ntwo\xEF\xBF\xBDlines.jpg\n<b>bold</b>.jpg\nTotal size: 1.25 MB")},
            {"a long name", {longName}, {}},
        };
        for (const Case& c : cases) {
            bool looked = false;
            quillix::test::WhenShown<DeleteFilesDialog>([&](DeleteFilesDialog* dialog) {
                looked = true;
                const QLabel* question = dialog->findChild<QLabel*>();
                QCOMPARE(question->textFormat(), Qt::PlainText);
                const QStringList lines = question->text().split('\n');
                if (!c.expected.isEmpty()) {
                    QCOMPARE(question->text(), c.expected);
                } else {
                    QCOMPARE(lines.size(), 3);
                    QVERIFY2(lines[1].startsWith("nnn") && lines[1].endsWith("-end.jpg") &&
                                 lines[1].contains(QChar(0x2026)),
                             qPrintable(lines[1]));
                }
                const QFontMetrics metrics(question->font());
                for (const QString& line : lines)
                    QVERIFY2(metrics.horizontalAdvance(line) <= question->width(), qPrintable(line));
                QVERIFY(question->height() >= static_cast<int>(lines.size()) * metrics.lineSpacing());
                QCOMPARE(dialog->width(), 380);
                for (QPushButton* b : dialog->findChildren<QPushButton*>()) {
                    QVERIFY(b->geometry().top() > question->geometry().bottom());
                    QCOMPARE(b->geometry().bottom() + 1, dialog->height() - 16);
                }
                dialog->reject();
            });
            QVERIFY2(quillix::gallery::ChooseDeleteMode(c.names, 1310720, nullptr) ==
                         quillix::gallery::DeleteMode::Cancel,
                     c.what);
            QVERIFY2(looked, c.what);
        }
    }
};

QTEST_MAIN(GallerySelectionTest)
#include "gallery_selection_widget_test.moc"
