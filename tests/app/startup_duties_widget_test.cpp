#include "app/desktop_duties.h"
#include "app/startup.h"
#include "platform/pin_dialog.h"
#include "settings/desktop_registration.h"
#include "settings/pin_lock.h"
#include "support/settings_rig.h"
#include "support/when_shown.h"

#include <QImage>
#include <QtTest>

#include <filesystem>

using quillix::platform::PinDialog;
using quillix::settings::DesktopPlaces;
using quillix::settings::HashPin;
using quillix::test::SettingsRig;
using quillix::test::WhenShown;

namespace {

// The start-up duties as the program runs them, over a home folder of their own.
struct Start : SettingsRig {
    DesktopPlaces places{dir / "data", dir / "config"};
    bool pinShown = false;

    explicit Start(const char* pin)
    {
        if (pin) StoreRegistry("p", HashPin(pin));
    }
    // Runs them, typing `typed` into the PIN dialog if one comes up.
    bool Run(const char* typed)
    {
        // Without a PIN no dialog may come up: it would wait for keys that never come.
        if (quillix::settings::PinRequired(options)) {
            WhenShown<PinDialog>([this, typed](PinDialog* d) {
                pinShown = true;
                QTest::keyClicks(d, typed);
                if (d->isVisible()) d->close();
            });
        }
        return quillix::app::RunStartupDuties(
            quillix::app::ProgramStartupHooks(options, reg, places, "/opt/quillix/bin/quillix"),
            [](std::function<void()> registration) { registration(); });
    }
    std::string Exec() const
    {
        const std::string entry = quillix::test::ReadText(places.DesktopEntry());
        const std::size_t at = entry.find("\nExec=");
        return at == std::string::npos ? std::string() : entry.substr(at + 6, entry.find('\n', at + 1) - at - 6);
    }
};

}  // namespace

class StartupDutiesWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void wrongPinEndsTheProgramYetItIsRegistered()
    {
        Start start("2468");
        QVERIFY(!start.Run("1357"));
        QVERIFY(start.pinShown);
        QCOMPARE(start.StoredRegistry("c"), std::string("1"));
        QCOMPARE(start.Exec(), std::string(R"("/opt/quillix/bin/quillix" %f)"));
        QVERIFY(std::filesystem::exists(start.places.NemoAction()));
    }

    void closedPinDialogEndsTheProgramYetItIsRegistered()
    {
        Start start("2468");
        QVERIFY(!start.Run(""));
        QCOMPARE(start.StoredRegistry("c"), std::string("(none)"));
        QVERIFY(std::filesystem::exists(start.places.DesktopEntry()));
    }

    void rightPinGoesOn()
    {
        Start start("2468");
        QVERIFY(start.Run("2468"));
        QCOMPARE(start.StoredRegistry("c"), std::string("0"));
        QVERIFY(std::filesystem::exists(start.places.DesktopEntry()));
    }

    void withoutPinNothingIsAskedAndTheIconIsInstalled()
    {
        Start start(nullptr);
        QVERIFY(start.Run(""));
        for (const int size : quillix::settings::IconSizes()) {
            QImage icon(QString::fromStdString(start.places.IconFile(size)), "PNG");
            QCOMPARE(icon.size(), QSize(size, size));
        }
    }
};

QTEST_MAIN(StartupDutiesWidgetTest)
#include "startup_duties_widget_test.moc"
