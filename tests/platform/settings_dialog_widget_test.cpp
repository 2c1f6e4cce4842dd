#include "container/key_derivation.h"
#include "platform/settings_dialog.h"
#include "settings/app_options.h"
#include "support/settings_rig.h"
#include "support/when_shown.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QtTest>

#include <array>

using quillix::platform::SettingsDialog;
using quillix::settings::HashPin;
using quillix::test::SettingsRig;
using quillix::test::WhenShown;

namespace {

// The dialog over the rig, shown as the gallery's button shows it (modal, not blocking the test).
struct OpenDialog {
    SettingsRig& rig;
    SettingsDialog dialog{rig.options, rig.app, rig.reg, rig.marble};

    explicit OpenDialog(SettingsRig& r) : rig(r) { Show(); }
    void Show()
    {
        dialog.open();
        dialog.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
    }
    void Reopen()
    {
        if (dialog.isVisible()) dialog.reject();
        Show();
    }
    void Type(QLineEdit* edit, const QString& text)
    {
        edit->setFocus();
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
};

QStringList TextsOf(const QWidget& parent)
{
    QStringList texts;
    for (const QGroupBox* group : parent.findChildren<QGroupBox*>())
        texts << group->title();
    for (const QAbstractButton* button : parent.findChildren<QAbstractButton*>())
        texts << button->text();
    for (const QLabel* label : parent.findChildren<QLabel*>())
        if (!label->text().isEmpty()) texts << label->text();
    return texts;
}

}  // namespace

class SettingsDialogWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void captionsSizeAndControls()
    {
        SettingsRig rig;
        OpenDialog open(rig);
        SettingsDialog& d = open.dialog;
        QCOMPARE(d.windowTitle(), QString("Settings"));
        // One row taller than with four ciphers, for the strong one's two-line caption.
        QCOMPARE(d.size(), QSize(416, 283));
        const QStringList texts = TextsOf(d);
        for (const char* caption : {"Security Settings ",
                                    "Passes: ",
                                    "Max Bytes :",
                                    "Full File",
                                    " Algorithm ",
                                    "AES",
                                    "ChaCha20",
                                    "Twofish",
                                    "Blowfish",
                                    "Strong (Argon2id, XChaCha20-Poly1305)",
                                    "Password+FileName",
                                    "FAST (less secure)",
                                    "Mouse Zoom && Wheel Control ",
                                    "Fwd/Bckwd (Zoom w/ Shift)",
                                    "Zoom (Fwd/Bckwd w/ Shift)",
                                    "Toogle w/ RMouse",
                                    "Revert Zoom In && Out",
                                    "Parental PIN",
                                    "PIN:",
                                    "CLR",
                                    "If set, this PIN is required for viewing any image file or folder.",
                                    "&Apply",
                                    "&Cancel"})
            QVERIFY2(texts.contains(caption), caption);
        QVERIFY(d.algorithmButton(0)->font().bold());
        QCOMPARE(d.algorithmButton(1)->palette().color(QPalette::WindowText), QColor(128, 128, 128));
        QVERIFY(d.algorithmButton(4)->toolTip().contains("Only Quillix reads"));
        // Every control lies inside the dialog and none overlaps another of its group.
        for (const QGroupBox* group : d.findChildren<QGroupBox*>()) {
            QVERIFY2(d.rect().contains(group->mapTo(&d, group->rect().bottomRight())), qPrintable(group->title()));
            const QList<QWidget*> inside = group->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
            for (const QWidget* a : inside) {
                QVERIFY2(group->rect().contains(a->geometry()), qPrintable(group->title()));
                for (const QWidget* b : inside)
                    if (a != b && !qobject_cast<const QGroupBox*>(a) && !qobject_cast<const QGroupBox*>(b))
                        QVERIFY2(!a->geometry().intersects(b->geometry()), qPrintable(group->title()));
            }
        }
        // The strong caption fits its two lines.
        const QRadioButton* strong = d.algorithmButton(4);
        const QRect needed = strong->fontMetrics().boundingRect(QRect(0, 0, strong->width() - 20, 1000),
                                                                Qt::TextWordWrap, strong->text());
        QVERIFY(needed.height() <= strong->height());
        QCOMPARE(d.pinEdit()->maxLength(), 4);
        QCOMPARE(d.pinEdit()->echoMode(), QLineEdit::Password);
        QVERIFY(d.applyButton()->isDefault());
        QVERIFY(d.applyButton()->isFlat() && !d.applyButton()->icon().isNull());
        // The strip along the bottom: copies of the marble from its top left.
        QCOMPARE(d.marbleStrip()->geometry(), QRect(0, 243, 416, 40));
        const QImage strip = d.marbleStrip()->pixmap().toImage();
        QCOMPARE(strip.size(), QSize(416, 40));
        for (const QPoint p : {QPoint(0, 0), QPoint(55, 39), QPoint(56, 0), QPoint(200, 17), QPoint(415, 39)})
            QCOMPARE(strip.pixel(p), rig.marble.pixel(p.x() % 56, p.y() % 48));
        QCOMPARE(d.fullFileTimer()->interval(), 200);
        QVERIFY(d.fullFileTimer()->isActive());
        d.reject();
        QVERIFY(!d.fullFileTimer()->isActive());
    }

    void showingFillsTheControlsFromTheSettings()
    {
        SettingsRig rig;
        rig.StoreSetting("mxb", 0);
        rig.StoreSetting("passes", 3);
        rig.StoreSetting("MOUSECTRL_OPT", 2);
        rig.StoreSetting("MOUSECTRL_REVERT", 1);
        rig.StoreSetting("EncryptionAlg", 2);
        rig.StoreSetting("FileNamePW", 0);
        rig.StoreSetting("Fast", 0);
        OpenDialog open(rig);
        SettingsDialog& d = open.dialog;
        QCOMPARE(d.maxBytesEdit()->text(), QString("0"));
        QVERIFY(d.fullFileBox()->isChecked());
        QVERIFY(!d.maxBytesEdit()->isEnabled());
        QCOMPARE(d.passesEdit()->text(), QString("3"));
        QVERIFY(d.mouseButton(2)->isChecked());
        QVERIFY(!d.mouseButton(0)->isChecked() && !d.mouseButton(1)->isChecked());
        QVERIFY(d.revertZoomBox()->isChecked());
        const std::array<bool, 5> selected = {d.algorithmButton(0)->isChecked(), d.algorithmButton(1)->isChecked(),
                                              d.algorithmButton(2)->isChecked(), d.algorithmButton(3)->isChecked(),
                                              d.algorithmButton(4)->isChecked()};
        QVERIFY((selected == std::array<bool, 5>{false, false, true, false, false}));
        QVERIFY(!d.fileNamePasswordBox()->isChecked());
        QVERIFY(!d.fastBox()->isChecked());
    }

    void unknownAlgorithmSelectsNoneAndApplyStoresAes()
    {
        SettingsRig rig;
        rig.StoreSetting("EncryptionAlg", 3);
        OpenDialog open(rig);
        QVERIFY(open.dialog.algorithmButton(3)->isChecked());
        open.dialog.reject();
        rig.StoreSetting("EncryptionAlg", 9);
        open.Reopen();
        for (int id = 0; id <= 4; ++id)
            QVERIFY(!open.dialog.algorithmButton(id)->isChecked());
        QTest::mouseClick(open.dialog.applyButton(), Qt::LeftButton);
        QCOMPARE(open.dialog.result(), int(QDialog::Accepted));
        QCOMPARE(rig.StoredSetting("EncryptionAlg"), std::string("0"));
        QCOMPARE(rig.options.EncryptionAlg, 0);
    }

    void strongIsChosenByAClickOnEitherLineAndKept()
    {
        SettingsRig rig;
        OpenDialog open(rig);
        SettingsDialog& d = open.dialog;
        QVERIFY2(d.algorithmButton(0)->isChecked(), "the default stays AES");
        QRadioButton* strong = d.algorithmButton(4);
        // The second line of the caption selects it as well as the first.
        QTest::mouseClick(strong, Qt::LeftButton, {}, QPoint(strong->width() / 2, strong->height() - 4));
        QVERIFY(strong->isChecked());
        QVERIFY(!d.algorithmButton(0)->isChecked());
        QTest::mouseClick(d.applyButton(), Qt::LeftButton);
        QCOMPARE(rig.options.EncryptionAlg, 4);
        QCOMPARE(rig.StoredSetting("EncryptionAlg"), std::string("4"));
        open.Reopen();
        QVERIFY(d.algorithmButton(4)->isChecked());
    }

    void applyStoresEveryControlAtOnce()
    {
        SettingsRig rig;
        OpenDialog open(rig);
        SettingsDialog& d = open.dialog;
        open.Type(d.passesEdit(), "2");
        open.Type(d.maxBytesEdit(), "512");
        QTest::mouseClick(d.algorithmButton(3), Qt::LeftButton);
        QTest::mouseClick(d.fileNamePasswordBox(), Qt::LeftButton);
        QTest::mouseClick(d.mouseButton(1), Qt::LeftButton);
        QTest::mouseClick(d.revertZoomBox(), Qt::LeftButton);
        QTest::mouseClick(d.applyButton(), Qt::LeftButton);
        QVERIFY(!d.isVisible());
        QCOMPARE(rig.options.Passes, 2);
        QCOMPARE(rig.options.MaxKiB, std::int64_t{512 * 1024});
        QCOMPARE(rig.options.EncryptionAlg, 3);
        QVERIFY(!rig.options.FileNamePW);
        QCOMPARE(rig.options.MouseOption, 1);
        QVERIFY(rig.options.MouseRevert);
        QCOMPARE(rig.StoredSetting("passes"), std::string("2"));
        QCOMPARE(rig.StoredSetting("mxb"), std::string("512"));
        QCOMPARE(rig.StoredSetting("EncryptionAlg"), std::string("3"));
        QCOMPARE(rig.StoredSetting("FileNamePW"), std::string("0"));
        QCOMPARE(rig.StoredSetting("MOUSECTRL_OPT"), std::string("1"));
        QCOMPARE(rig.StoredSetting("MOUSECTRL_REVERT"), std::string("1"));
        // Reopened, it shows what was applied.
        open.Reopen();
        QCOMPARE(d.passesEdit()->text(), QString("2"));
        QCOMPARE(d.maxBytesEdit()->text(), QString("512"));
        QVERIFY(d.algorithmButton(3)->isChecked());
        QVERIFY(d.mouseButton(1)->isChecked());
    }

    void lettersInTheNumberFieldsStoreTheFallbacks()
    {
        SettingsRig rig;
        OpenDialog open(rig);
        open.Type(open.dialog.maxBytesEdit(), "lots");
        open.Type(open.dialog.passesEdit(), "many");
        QTest::keyClick(open.dialog.passesEdit(), Qt::Key_Return);
        QCOMPARE(rig.StoredSetting("mxb"), std::string("100"));
        QCOMPARE(rig.StoredSetting("passes"), std::string("7"));
        QCOMPARE(rig.options.MaxKiB, std::int64_t{100 * 1024});
        QCOMPARE(rig.options.Passes, 7);
    }

    void passesTakeOneToThirtyFive()
    {
        // What is typed, what the field keeps of it, and what Apply stores.
        const struct {
            const char* typed;
            const char* kept;
            const char* stored;
        } cases[] = {{"-5", "5", "5"}, {"0", "0", "1"}, {"999", "99", "35"}, {"35", "35", "35"}, {"1", "1", "1"}};
        for (const auto& c : cases) {
            SettingsRig rig;
            OpenDialog open(rig);
            open.Type(open.dialog.passesEdit(), c.typed);
            QCOMPARE(open.dialog.passesEdit()->text(), QString(c.kept));
            QTest::keyClick(open.dialog.passesEdit(), Qt::Key_Return);
            QCOMPARE(rig.StoredSetting("passes"), std::string(c.stored));
            QCOMPARE(rig.options.Passes, std::stoi(c.stored));
        }
    }

    void enterAppliesFromAnyControlAndEscapeChangesNothing()
    {
        SettingsRig rig;
        OpenDialog open(rig);
        SettingsDialog& d = open.dialog;
        open.Type(d.passesEdit(), "1");
        QTest::keyClick(&d, Qt::Key_Escape);
        QCOMPARE(d.result(), int(QDialog::Rejected));
        QVERIFY(!rig.IniWritten());
        QCOMPARE(rig.options.Passes, 7);

        int passes = 3;
        for (QWidget* focus : std::initializer_list<QWidget*>{d.clearPinButton(), d.fastBox(), d.mouseButton(2)}) {
            open.Reopen();
            open.Type(d.passesEdit(), QString::number(++passes));
            focus->setFocus();
            QTest::keyClick(focus, Qt::Key_Return);
            QCOMPARE(d.result(), int(QDialog::Accepted));
            QCOMPARE(rig.StoredSetting("passes"), std::to_string(passes));
        }
        QCOMPARE(rig.StoredRegistry("p"), std::string("(none)"));  // Enter on CLR applies, it does not clear

        open.Reopen();
        QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
        QCOMPARE(d.result(), int(QDialog::Rejected));
    }

    void fullFileAndTheFieldStayInStep()
    {
        SettingsRig rig;
        OpenDialog open(rig);
        SettingsDialog& d = open.dialog;
        QCOMPARE(d.maxBytesEdit()->text(), QString("444"));
        QTest::mouseClick(d.fullFileBox(), Qt::LeftButton);
        QCOMPARE(d.maxBytesEdit()->text(), QString("0"));
        QVERIFY(!d.maxBytesEdit()->isEnabled());
        QTest::mouseClick(d.fullFileBox(), Qt::LeftButton);
        QCOMPARE(d.maxBytesEdit()->text(), QString("444"));
        QVERIFY(d.maxBytesEdit()->isEnabled());

        // Typing 0 ticks the box at the timer's next step.
        open.Type(d.maxBytesEdit(), "0");
        QVERIFY(d.maxBytesEdit()->hasFocus());
        QTRY_VERIFY_WITH_TIMEOUT(d.fullFileBox()->isChecked(), 20000);
        d.keepFullFileInStep();
        QVERIFY(!d.maxBytesEdit()->isEnabled());

        // Ticked and applied straight away: the whole file, not the number the field showed.
        QTest::mouseClick(d.fullFileBox(), Qt::LeftButton);
        QCOMPARE(d.maxBytesEdit()->text(), QString("444"));
        QTest::mouseClick(d.fullFileBox(), Qt::LeftButton);
        QTest::mouseClick(d.applyButton(), Qt::LeftButton);
        QCOMPARE(rig.StoredSetting("mxb"), std::string("0"));
        QCOMPARE(rig.options.MaxKiB, std::int64_t{0});
        open.Reopen();
        QVERIFY(d.fullFileBox()->isChecked());
        QVERIFY(!d.maxBytesEdit()->isEnabled());
    }

    void fastClickEmptiesTheKeyCacheAtOnce()
    {
        SettingsRig rig;
        OpenDialog open(rig);
        const std::array<std::uint8_t, 16> salt{};
        std::array<std::uint8_t, 16> key{};
        std::array<std::uint8_t, 32> mac{};
        quillix::container::DeriveKeysCached("pw", salt, 10, key, mac);
        const std::uint64_t derived = quillix::container::KeyDerivationCount();
        quillix::container::DeriveKeysCached("pw", salt, 10, key, mac);
        QCOMPARE(quillix::container::KeyDerivationCount(), derived);  // cached
        QTest::mouseClick(open.dialog.fastBox(), Qt::LeftButton);
        open.dialog.reject();  // whether or not Apply follows
        quillix::container::DeriveKeysCached("pw", salt, 10, key, mac);
        QCOMPARE(quillix::container::KeyDerivationCount(), derived + 1);
        QVERIFY(!rig.IniWritten());
    }

    void pinIsStoredForTheNextStartAndClrRemovesIt()
    {
        SettingsRig rig;
        const std::string noPin = rig.options.NoPinHash;
        OpenDialog open(rig);
        SettingsDialog& d = open.dialog;
        open.Type(d.pinEdit(), "0x4a71");
        QCOMPARE(d.pinEdit()->text(), QString("0471"));  // only digits, four at most
        QTest::mouseClick(d.applyButton(), Qt::LeftButton);
        QCOMPARE(rig.StoredRegistry("p"), HashPin("0471"));
        QCOMPARE(rig.options.PinHash, noPin);  // takes effect at the next start

        open.Reopen();
        QCOMPARE(d.pinEdit()->text(), QString("0471"));  // the field keeps what was typed
        QTest::mouseClick(d.clearPinButton(), Qt::LeftButton);
        QCOMPARE(rig.StoredRegistry("p"), noPin);
        QCOMPARE(d.pinEdit()->text(), QString());
        QTest::mouseClick(d.applyButton(), Qt::LeftButton);
        QCOMPARE(rig.StoredRegistry("p"), noPin);  // Apply after CLR does not set the PIN again

        open.Reopen();
        open.Type(d.pinEdit(), "7458");
        QTest::mouseClick(d.applyButton(), Qt::LeftButton);
        rig.Load();
        QCOMPARE(rig.options.PinHash, rig.options.NoPinHash);  // 7458 is no PIN
    }

    void gallerysButtonReusesOneDialog()
    {
        SettingsRig rig;
        QWidget owner;
        WhenShown<SettingsDialog>([](SettingsDialog* d) {
            QTest::keyClicks(d->pinEdit(), "12");
            QTest::keyClick(d, Qt::Key_Escape);
        });
        quillix::platform::ShowSettingsDialog(&owner, rig.options, rig.app, rig.reg, rig.marble);
        QString kept;
        WhenShown<SettingsDialog>([&kept](SettingsDialog* d) {
            kept = d->pinEdit()->text();
            d->reject();
        });
        quillix::platform::ShowSettingsDialog(&owner, rig.options, rig.app, rig.reg, rig.marble);
        QCOMPARE(kept, QString("12"));
        QCOMPARE(owner.findChildren<SettingsDialog*>().size(), 1);
    }
};

QTEST_MAIN(SettingsDialogWidgetTest)
#include "settings_dialog_widget_test.moc"
