#include "platform/pin_dialog.h"
#include "settings/app_options.h"
#include "support/settings_rig.h"
#include "support/when_shown.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

using quillix::platform::AskPinAtStart;
using quillix::platform::PinDialog;
using quillix::settings::HashPin;
using quillix::test::SettingsRig;
using quillix::test::WhenShown;

namespace {

// A stored PIN and the failures counted so far.
struct PinRig : SettingsRig {
    explicit PinRig(const char* pin, int failures = 0)
    {
        StoreRegistry("p", HashPin(pin));
        if (failures > 0) StoreRegistry("c", std::to_string(failures));
    }
};

// The dialog shown over the rig without blocking the test.
struct OpenPin {
    PinDialog dialog;
    explicit OpenPin(PinRig& rig) : dialog(rig.options, rig.reg)
    {
        dialog.open();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
    }
    void Type(const char* keys) { QTest::keyClicks(&dialog, keys); }
};

}  // namespace

class PinDialogWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void saysWhatToDo()
    {
        PinRig rig("1234");
        OpenPin open(rig);
        QCOMPARE(open.dialog.windowTitle(), QString("PIN"));
        QCOMPARE(open.dialog.palette().color(QPalette::Window), QColor(Qt::white));
        QLabel* label = open.dialog.pinLabel();
        QLineEdit* field = open.dialog.field();
        QCOMPARE(label->text(), QString("PIN:"));
        QVERIFY(label->isVisible());
        QVERIFY(field->isVisible());
        QCOMPARE(field->text(), QString());
        // The label stands before the field, both inside the dialog, and the field has the keys.
        const QRect inside = open.dialog.rect();
        QVERIFY(inside.contains(label->geometry()) && inside.contains(field->geometry()));
        QVERIFY(label->geometry().bottom() <= field->geometry().top() + 2 ||
                label->geometry().right() <= field->geometry().left());
        QVERIFY(field->hasFocus());
        QVERIFY(open.dialog.waitLabel()->isHidden());
        QCOMPARE(open.dialog.waitLabel()->text(), QString("Please wait ..."));

        // Keys typed into the field go through the dialog's rules: stars, no letters, no paste.
        QTest::keyClicks(field, "1a");
        QCOMPARE(field->text(), QString("*"));
        QTest::keyClick(field, Qt::Key_V, Qt::ControlModifier);
        QTest::keyClick(field, Qt::Key_Backspace);
        if (QGuiApplication::clipboard()->supportsSelection()) {
            QGuiApplication::clipboard()->setText("1234", QClipboard::Selection);
            QTest::mouseClick(field, Qt::MiddleButton);
        }
        QCOMPARE(field->text(), QString("*"));
        QTest::keyClicks(field, "234");
        QVERIFY(open.dialog.unlocked());
    }

    void rightPinUnlocksRestoresTheViewerAndClearsTheCount()
    {
        PinRig rig("1234", 0);
        rig.options.PinErrors = 0;
        OpenPin open(rig);
        const char* stars[] = {"*", "* *", "* * *"};
        for (int i = 0; i < 3; ++i) {
            open.Type(QByteArray(1, char('1' + i)).constData());
            QCOMPARE(open.dialog.field()->text(), QString(stars[i]));
            QVERIFY(open.dialog.isVisible());
        }
        open.Type("4");
        QVERIFY(!open.dialog.isVisible());
        QVERIFY(open.dialog.unlocked());
        QCOMPARE(open.dialog.result(), int(QDialog::Accepted));
        QCOMPARE(rig.StoredRegistry("c"), std::string("0"));
    }

    void fourWrongDigitsCountAFailure()
    {
        PinRig rig("1234");
        OpenPin open(rig);
        open.Type("1235");
        QVERIFY(!open.dialog.isVisible());
        QVERIFY(!open.dialog.unlocked());
        QCOMPARE(rig.options.PinErrors, 1);
        QCOMPARE(rig.StoredRegistry("c"), std::string("1"));
    }

    void shortPinUnlocksOnItsLastDigit()
    {
        PinRig rig("47");
        OpenPin open(rig);
        open.Type("47");
        QVERIFY(open.dialog.unlocked());
    }

    void lettersBackspaceAndKeypad()
    {
        PinRig rig("1234");
        OpenPin open(rig);
        open.Type("ab");
        QTest::keyClick(&open.dialog, Qt::Key_Backspace);
        QTest::keyClick(&open.dialog, Qt::Key_Delete);
        QTest::keyClick(&open.dialog, Qt::Key_F5);
        QCOMPARE(open.dialog.field()->text(), QString());
        QVERIFY(open.dialog.isVisible());
        open.Type("12");
        QTest::keyClick(&open.dialog, Qt::Key_Backspace);  // no correction
        QCOMPARE(open.dialog.field()->text(), QString("* *"));
        QTest::keyClick(&open.dialog, Qt::Key_3, Qt::KeypadModifier);
        QTest::keyClick(&open.dialog, Qt::Key_4, Qt::KeypadModifier);
        QVERIFY(open.dialog.unlocked());
    }

    void failuresMakeItWaitAndDigitsMeanwhileAreLost()
    {
        for (const int failures : {1, 3}) {
            PinRig rig("1234", failures);
            OpenPin open(rig);
            QVERIFY(open.dialog.lockoutTimer()->isActive());
            QCOMPARE(open.dialog.lockoutTimer()->interval(), failures * 7000);
            QVERIFY(open.dialog.waitLabel()->isVisible());
            open.Type("12");
            QCOMPARE(open.dialog.field()->text(), QString());
            open.dialog.endLockout();
            QVERIFY(open.dialog.waitLabel()->isHidden());
            QVERIFY(!open.dialog.lockoutTimer()->isActive());
            open.Type("1234");
            QVERIFY(open.dialog.unlocked());
            QCOMPARE(rig.StoredRegistry("c"), std::string("0"));
        }
    }

    void lockoutTimerEndsTheWait()
    {
        PinRig rig("1234", 1);
        OpenPin open(rig);
        open.dialog.lockoutTimer()->setInterval(20);
        open.dialog.lockoutTimer()->start();
        QTRY_VERIFY_WITH_TIMEOUT(open.dialog.waitLabel()->isHidden(), 20000);
        open.Type("1234");
        QVERIFY(open.dialog.unlocked());
    }

    void closingWithoutTheRightDigitsEndsWithoutCounting()
    {
        for (const char* typed : {"", "12", "9"}) {
            PinRig rig("1234", 2);
            rig.options.PinErrors = 2;
            OpenPin open(rig);
            open.dialog.endLockout();
            open.Type(typed);
            open.dialog.close();
            QVERIFY(!open.dialog.isVisible());
            QVERIFY(!open.dialog.unlocked());
            QCOMPARE(rig.StoredRegistry("c"), std::string("2"));
        }
        PinRig rig("1234");
        OpenPin open(rig);
        open.Type("1");
        QTest::keyClick(&open.dialog, Qt::Key_Escape);
        QVERIFY(!open.dialog.isVisible());
        QVERIFY(!open.dialog.unlocked());
    }

    void askedOnlyWithAPin()
    {
        SettingsRig noPin;
        QVERIFY(AskPinAtStart(noPin.options, noPin.reg));  // no dialog comes up

        PinRig rig("0815");
        WhenShown<PinDialog>([](PinDialog* d) { QTest::keyClicks(d, "0815"); });
        QVERIFY(AskPinAtStart(rig.options, rig.reg));
        WhenShown<PinDialog>([](PinDialog* d) { QTest::keyClicks(d, "0000"); });
        QVERIFY(!AskPinAtStart(rig.options, rig.reg));
        QCOMPARE(rig.StoredRegistry("c"), std::string("1"));
    }
};

QTEST_MAIN(PinDialogWidgetTest)
#include "pin_dialog_widget_test.moc"
