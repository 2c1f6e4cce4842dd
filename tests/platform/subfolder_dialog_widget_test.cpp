#include "platform/qt_dialogs.h"
#include "platform/subfolder_dialog.h"

#include "support/pool_drain.h"
#include "support/temp_dir.h"
#include "support/when_shown.h"

#include <QApplication>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTimer>
#include <QtTest>

#include <filesystem>
#include <string>
#include <vector>

using quillix::platform::QtDialogs;
using quillix::platform::SelectSubfolderDialog;
using quillix::platform::SubfolderDialog;
using quillix::test::WhenShown;

namespace {

QRect InDialog(const QWidget* widget, const QWidget* dialog)
{
    return {widget->mapTo(dialog, QPoint(0, 0)), widget->size()};
}

// True when all of `button` lies inside the part of the scroll area one can see.
bool FullyVisible(const QPushButton* button, const QScrollArea* area)
{
    const QRect inViewport(button->mapTo(area->viewport(), QPoint(0, 0)), button->size());
    return area->viewport()->rect().contains(inViewport);
}

std::vector<std::string> Numbered(int count)
{
    std::vector<std::string> names;
    for (int i = 1; i <= count; ++i)
        names.push_back("folder " + std::to_string(i));
    return names;
}

enum class Act { ClickSecond, EnterOnSecond, SpaceOnThird, ClickCancel, Escape, EnterOnCancel };

}  // namespace

Q_DECLARE_METATYPE(Act)

class SubfolderDialogWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void layout()
    {
        SubfolderDialog dialog({"a", "b", "c"});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));

        QCOMPARE(dialog.windowTitle(), QString("Select folder"));
        QCOMPARE(dialog.size(), QSize(400, 500));
        QCOMPARE(dialog.folderButtons().size(), std::size_t(3));
        QCOMPARE(dialog.folderButtons()[0]->text(), QString("a"));
        QCOMPARE(dialog.folderButtons()[2]->text(), QString("c"));
        QCOMPARE(InDialog(dialog.folderButtons()[0], &dialog), QRect(10, 10, 380, 40));
        QCOMPARE(InDialog(dialog.folderButtons()[1], &dialog), QRect(10, 55, 380, 40));
        QCOMPARE(InDialog(dialog.folderButtons()[2], &dialog), QRect(10, 100, 380, 40));
        QCOMPARE(dialog.cancelButton()->text(), QString("Cancel"));
        QCOMPARE(InDialog(dialog.cancelButton(), &dialog), QRect(10, 440, 380, 40));
        QVERIFY(!dialog.scrollArea()->verticalScrollBar()->isVisible());

        const QRect screen = dialog.screen()->availableGeometry();
        // Centred up to the window frame, whose size is not known before the window is shown.
        const QPoint offCentre = dialog.geometry().center() - screen.center();
        const int frame = dialog.geometry().left() - dialog.frameGeometry().left();
        QVERIFY2(qAbs(offCentre.x()) <= frame + 1 && qAbs(offCentre.y()) <= frame + 1,
                 qPrintable(QString("%1,%2 off the centre").arg(offCentre.x()).arg(offCentre.y())));
    }

    void answers_data()
    {
        QTest::addColumn<Act>("act");
        QTest::addColumn<QString>("expected");
        QTest::newRow("click") << Act::ClickSecond << "b";
        QTest::newRow("enter on the focused button") << Act::EnterOnSecond << "b";
        QTest::newRow("space on the focused button") << Act::SpaceOnThird << "c & d";
        QTest::newRow("cancel") << Act::ClickCancel << "";
        QTest::newRow("escape") << Act::Escape << "";
        QTest::newRow("enter on cancel") << Act::EnterOnCancel << "";
    }

    void answers()
    {
        QFETCH(Act, act);
        QFETCH(QString, expected);
        WhenShown<SubfolderDialog>([act](SubfolderDialog* d) {
            QPushButton* second = d->folderButtons()[1];
            QPushButton* third = d->folderButtons()[2];
            switch (act) {
            case Act::ClickSecond: QTest::mouseClick(second, Qt::LeftButton); break;
            case Act::EnterOnSecond:
                second->setFocus();
                QTest::keyClick(second, Qt::Key_Return);
                break;
            case Act::SpaceOnThird:
                third->setFocus();
                QTest::keyClick(third, Qt::Key_Space);
                break;
            case Act::ClickCancel: QTest::mouseClick(d->cancelButton(), Qt::LeftButton); break;
            case Act::Escape: QTest::keyClick(d, Qt::Key_Escape); break;
            case Act::EnterOnCancel:
                d->cancelButton()->setFocus();
                QTest::keyClick(d->cancelButton(), Qt::Key_Return);
                break;
            }
        });
        QCOMPARE(QString::fromStdString(SelectSubfolderDialog({"a", "b", "c & d"})), expected);
    }

    void manyFoldersScrollAndTheLastIsReachable()
    {
        SubfolderDialog dialog(Numbered(30));
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QScrollArea* area = dialog.scrollArea();
        const std::vector<QPushButton*>& buttons = dialog.folderButtons();

        QVERIFY(area->verticalScrollBar()->isVisible());
        QVERIFY(area->geometry().bottom() < dialog.cancelButton()->geometry().top());
        QCOMPARE(buttons[0]->geometry(), QRect(10, 10, area->viewport()->width() - 20, 40));
        QCOMPARE(buttons[29]->geometry(), QRect(10, 10 + 29 * 45, area->viewport()->width() - 20, 40));
        QVERIFY(!FullyVisible(buttons[29], area));

        // Down walks the column, scrolling along, and goes on to Cancel; Up comes back.
        QTRY_VERIFY_WITH_TIMEOUT(buttons[0]->hasFocus(), 20000);
        for (int i = 0; i < 29; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Down);
        QVERIFY(buttons[29]->hasFocus());
        QVERIFY(FullyVisible(buttons[29], area));
        QTest::keyClick(buttons[29], Qt::Key_Down);
        QVERIFY(dialog.cancelButton()->hasFocus());
        QTest::keyClick(dialog.cancelButton(), Qt::Key_Down);
        QVERIFY(dialog.cancelButton()->hasFocus());
        QTest::keyClick(dialog.cancelButton(), Qt::Key_Up);
        QVERIFY(buttons[29]->hasFocus());

        // Tab backwards to the top scrolls back up.
        for (int i = 0; i < 29; ++i)
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
        QVERIFY(buttons[0]->hasFocus());
        QVERIFY(FullyVisible(buttons[0], area));
        QVERIFY(!FullyVisible(buttons[29], area));

        area->ensureWidgetVisible(buttons[29]);
        QTest::mouseClick(buttons[29], Qt::LeftButton);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(dialog.chosen(), std::string("folder 30"));
    }

    void nineFoldersFitWithoutScrolling()
    {
        SubfolderDialog nine(Numbered(9));
        nine.show();
        QVERIFY(QTest::qWaitForWindowExposed(&nine));
        QVERIFY(!nine.scrollArea()->verticalScrollBar()->isVisible());
        QCOMPARE(InDialog(nine.folderButtons()[8], &nine), QRect(10, 370, 380, 40));

        SubfolderDialog ten(Numbered(10));
        ten.show();
        QVERIFY(QTest::qWaitForWindowExposed(&ten));
        QVERIFY(ten.scrollArea()->verticalScrollBar()->isVisible());
    }

    void ampersandIsShownLiterally()
    {
        SubfolderDialog dialog({"Tom & Jerry", "&b"});
        dialog.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dialog));
        QCOMPARE(dialog.folderButtons()[0]->text(), QString("Tom && Jerry"));
        QCOMPARE(dialog.folderButtons()[1]->text(), QString("&&b"));
        QVERIFY(dialog.folderButtons()[1]->shortcut().isEmpty());

        // No mnemonic: Alt+J and Alt+B press nothing.
        QTest::keyClick(&dialog, Qt::Key_J, Qt::AltModifier);
        QTest::keyClick(&dialog, Qt::Key_B, Qt::AltModifier);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.chosen().empty());

        QTest::mouseClick(dialog.folderButtons()[0], Qt::LeftButton);
        QCOMPARE(dialog.chosen(), std::string("Tom & Jerry"));
    }

    void qtDialogsListTheFolderItsSubfolders()
    {
        quillix::test::TempDir dir;
        std::filesystem::create_directory(dir / "kept");
        std::filesystem::create_directory(dir / "other");
        quillix::test::WriteFile(dir / "photo.jpg", "picture");
        QtDialogs dialogs;

        WhenShown<SubfolderDialog>([](SubfolderDialog* d) {
            QCOMPARE(d->folderButtons().size(), std::size_t(2));
            for (QPushButton* button : d->folderButtons())
                if (button->text() == "kept") button->click();
        });
        QCOMPARE(dialogs.SelectSubfolder(dir.path() + "/"), std::optional<std::string>("kept"));

        WhenShown<SubfolderDialog>([](SubfolderDialog* d) { d->cancelButton()->click(); });
        QCOMPARE(dialogs.SelectSubfolder(dir.path() + "/"), std::nullopt);

        // No subfolders: no dialog at all. One that did show up is cancelled and counted.
        int shown = 0;
        QTimer guard;
        connect(&guard, &QTimer::timeout, [&shown] {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* d = qobject_cast<SubfolderDialog*>(w); d && d->isVisible()) {
                    ++shown;
                    d->reject();
                }
        });
        guard.start(10);
        QCOMPARE(dialogs.SelectSubfolder(dir / "kept"), std::nullopt);
        QCOMPARE(dialogs.SelectSubfolder(dir / "missing"), std::nullopt);
        quillix::test::HandlePostedEvents();
        for (QWidget* w : QApplication::topLevelWidgets())
            shown += qobject_cast<SubfolderDialog*>(w) && w->isVisible() ? 1 : 0;
        QCOMPARE(shown, 0);
    }
};

QTEST_MAIN(SubfolderDialogWidgetTest)
#include "subfolder_dialog_widget_test.moc"
