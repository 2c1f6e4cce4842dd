#include "platform/pin_dialog.h"
#include "settings/app_options.h"
#include "support/settings_rig.h"
#include "support/when_shown.h"

#include <QLabel>
#include <QTimer>
#include <QtTest>

using quillix::platform::AskPinAtStart;
using quillix::platform::PinDialog;
using quillix::settings::HashPin;
using quillix::test::SettingsRig;
using quillix::test::WhenShown;

namespace {

// A stored PIN, the failures counted so far, and a viewer window 300 × 200 on screen.
struct PinRig : SettingsRig {
    QWidget viewer;

    explicit PinRig(const char* pin, int failures = 0)
    {
        StoreRegistry("p", HashPin(pin));
        if (failures > 0) StoreRegistry("c", std::to_string(failures));
        viewer.setGeometry(40, 30, 300, 200);
        viewer.show();
        QVERIFY(QTest::qWaitForWindowExposed(&viewer));
    }
};

// The dialog shown over the rig without blocking the test.
struct OpenPin {
    PinDialog dialog;
    explicit OpenPin(PinRig& rig) : dialog(rig.options, rig.reg, &rig.viewer)
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
    void lookAndTheShrunkViewer()
    {
        PinRig rig("1234");
        OpenPin open(rig);
        QCOMPARE(open.dialog.windowTitle(), QString("PIN"));
        QCOMPARE(open.dialog.size(), QSize(182, 102));
        QCOMPARE(open.dialog.palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(open.dialog.starsLabel()->text(), QString());
        QCOMPARE(open.dialog.starsLabel()->font().pixelSize(), 32);
        QVERIFY(open.dialog.starsLabel()->font().bold());
        QVERIFY(open.dialog.waitLabel()->isHidden());
        QCOMPARE(open.dialog.waitLabel()->text(), QString("Please wait ..."));
        QCOMPARE(rig.viewer.size(), QSize(1, 1));
    }

    void rightPinUnlocksRestoresTheViewerAndClearsTheCount()
    {
        PinRig rig("1234", 0);
        rig.options.PinErrors = 0;
        OpenPin open(rig);
        const char* stars[] = {"*", "* *", "* * *"};
        for (int i = 0; i < 3; ++i) {
            open.Type(QByteArray(1, char('1' + i)).constData());
            QCOMPARE(open.dialog.starsLabel()->text(), QString(stars[i]));
            QVERIFY(open.dialog.isVisible());
        }
        open.Type("4");
        QVERIFY(!open.dialog.isVisible());
        QVERIFY(open.dialog.unlocked());
        QCOMPARE(open.dialog.result(), int(QDialog::Accepted));
        QCOMPARE(rig.viewer.geometry(), QRect(40, 30, 300, 200));
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
        QCOMPARE(rig.viewer.size(), QSize(1, 1));
    }

    void shortPinUnlocksOnItsLastDigit()
    {
        PinRig rig("47");
        OpenPin open(rig);
        open.Type("47");
        QVERIFY(open.dialog.unlocked());
        QCOMPARE(rig.viewer.size(), QSize(300, 200));
    }

    void lettersBackspaceAndKeypad()
    {
        PinRig rig("1234");
        OpenPin open(rig);
        open.Type("ab");
        QTest::keyClick(&open.dialog, Qt::Key_Backspace);
        QTest::keyClick(&open.dialog, Qt::Key_Delete);
        QTest::keyClick(&open.dialog, Qt::Key_F5);
        QCOMPARE(open.dialog.starsLabel()->text(), QString());
        QVERIFY(open.dialog.isVisible());
        open.Type("12");
        QTest::keyClick(&open.dialog, Qt::Key_Backspace);  // no correction
        QCOMPARE(open.dialog.starsLabel()->text(), QString("* *"));
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
            QCOMPARE(open.dialog.starsLabel()->text(), QString());
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
        QTRY_VERIFY_WITH_TIMEOUT(open.dialog.waitLabel()->isHidden(), 2000);
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
            QCOMPARE(rig.viewer.size(), QSize(1, 1));
        }
        PinRig rig("1234");
        OpenPin open(rig);
        open.Type("1");
        QTest::keyClick(&open.dialog, Qt::Key_Escape);
        QVERIFY(!open.dialog.isVisible());
        QVERIFY(!open.dialog.unlocked());
    }

    void fullScreenViewerComesBackFullScreen()
    {
        PinRig rig("5");
        rig.viewer.showFullScreen();
        QTRY_VERIFY(rig.viewer.isFullScreen());
        OpenPin open(rig);
        QVERIFY(!rig.viewer.isFullScreen());
        QCOMPARE(rig.viewer.size(), QSize(1, 1));
        open.Type("5");
        QTRY_VERIFY(rig.viewer.isFullScreen());
    }

    void askedOnlyWithAPin()
    {
        SettingsRig noPin;
        QVERIFY(AskPinAtStart(noPin.options, noPin.reg, nullptr));  // no dialog comes up

        PinRig rig("0815");
        WhenShown<PinDialog>([](PinDialog* d) { QTest::keyClicks(d, "0815"); });
        QVERIFY(AskPinAtStart(rig.options, rig.reg, &rig.viewer));
        WhenShown<PinDialog>([](PinDialog* d) { QTest::keyClicks(d, "0000"); });
        QVERIFY(!AskPinAtStart(rig.options, rig.reg, &rig.viewer));
        QCOMPARE(rig.StoredRegistry("c"), std::string("1"));
    }
};

QTEST_MAIN(PinDialogWidgetTest)
#include "pin_dialog_widget_test.moc"
