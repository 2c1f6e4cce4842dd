#include "platform/password_dialog.h"
#include "platform/qt_dialogs.h"
#include "support/when_shown.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

#include <functional>

using quillix::MessageAnswer;
using quillix::MessageButtons;
using quillix::MessageIcon;
using quillix::platform::PasswordDialog;
using quillix::platform::QtDialogs;

using quillix::test::WhenShown;

class DialogsWidgetTest : public QObject {
    Q_OBJECT

private slots:
    void passwordDialogLayout()
    {
        PasswordDialog dialog;
        QCOMPARE(dialog.windowTitle(), QString("Password"));
        QCOMPARE(dialog.size(), QSize(320, 120));
        QCOMPARE(dialog.edit()->echoMode(), QLineEdit::Password);
        QCOMPARE(dialog.edit()->geometry().topLeft(), QPoint(12, 32));
        QCOMPARE(dialog.edit()->width(), 296);
        QCOMPARE(dialog.okButton()->text(), QString("OK"));
        QVERIFY(dialog.okButton()->isDefault());
        QCOMPARE(dialog.okButton()->pos(), QPoint(150, 72));
        QCOMPARE(dialog.cancelButton()->text(), QString("Abbrechen"));
        QCOMPARE(dialog.cancelButton()->pos(), QPoint(230, 72));
        // The field is labelled as the repetition's is; without a notice nothing else shows.
        QCOMPARE(dialog.label()->text(), QString("Password:"));
        QCOMPARE(dialog.label()->pos(), QPoint(12, 12));
        QCOMPARE(dialog.label()->buddy(), dialog.edit());
        QVERIFY(dialog.label()->geometry().bottom() < dialog.edit()->geometry().top());
        QVERIFY(dialog.notice()->isHidden());
    }

    void openedForEncryptionItAsksTwice()
    {
        PasswordDialog dialog(nullptr, true, "The passwords differ. Type the password twice.");
        QCOMPARE(dialog.windowTitle(), QString("Password"));
        QCOMPARE(dialog.notice()->text(), QString("The passwords differ. Type the password twice."));
        QVERIFY(!dialog.notice()->isHidden());
        // Notice, label, field: each below the one before.
        QCOMPARE(dialog.label()->text(), QString("Password:"));
        QVERIFY(dialog.label()->geometry().top() > dialog.notice()->geometry().bottom());
        QVERIFY(dialog.edit()->geometry().top() > dialog.label()->geometry().bottom());
        QCOMPARE(dialog.edit()->x(), 12);
        QVERIFY(dialog.repeatEdit() != nullptr);
        QCOMPARE(dialog.repeatEdit()->echoMode(), QLineEdit::Password);
        QCOMPARE(dialog.repeatEdit()->width(), 296);
        QVERIFY(dialog.repeatEdit()->geometry().top() > dialog.edit()->geometry().bottom());
        QCOMPARE(dialog.okButton()->text(), QString("OK"));
        QCOMPARE(dialog.cancelButton()->text(), QString("Abbrechen"));
        QCOMPARE(dialog.okButton()->x(), 150);
        QCOMPARE(dialog.cancelButton()->x(), 230);
        QVERIFY(dialog.okButton()->geometry().top() > dialog.repeatEdit()->geometry().bottom());
        QVERIFY(dialog.okButton()->geometry().bottom() < dialog.height());
        QCOMPARE(PasswordDialog().repeatEdit(), nullptr);

        // Enter in the first field goes on to the second; Enter there closes with OK.
        QtDialogs dialogs;
        // Shares the field's buffer, which is wiped once the answer is taken.
        QString fieldBuffer;
        WhenShown<PasswordDialog>([&fieldBuffer](PasswordDialog* d) {
            QCOMPARE(d->notice()->text(), QString());
            QTest::keyClicks(d->edit(), "first");
            fieldBuffer = d->edit()->text();
            QTest::keyClick(d->edit(), Qt::Key_Return);
            QVERIFY(d->isVisible());
            QCOMPARE(d->focusWidget(), d->repeatEdit());
            QTest::keyClicks(d->repeatEdit(), "second ");
            QTest::keyClick(d->repeatEdit(), Qt::Key_Return);
        });
        const auto typed = dialogs.AskPassword(quillix::PasswordPrompt::EnterTwice, {});
        QVERIFY(typed.has_value());
        QCOMPARE(typed->text, std::string("first"));
        QCOMPARE(typed->repeated, std::string("second "));
        QCOMPARE(fieldBuffer, QString(5, QChar(0)));

        // The repetition of a password typed before: one field, with the notice.
        WhenShown<PasswordDialog>([](PasswordDialog* d) {
            QCOMPARE(d->repeatEdit(), nullptr);
            QCOMPARE(d->notice()->text(), QString("Type it again"));
            QTest::keyClicks(d->edit(), "again");
            d->okButton()->click();
        });
        const auto repeated = dialogs.AskPassword(quillix::PasswordPrompt::Repeat, "Type it again");
        QVERIFY(repeated.has_value());
        QCOMPARE(repeated->text, std::string("again"));
    }

    void typedPasswordComesBackUntrimmed()
    {
        QtDialogs dialogs;
        WhenShown<PasswordDialog>([](PasswordDialog* d) {
            QTest::keyClicks(d->edit(), " s3cret ");
            QTest::keyClick(d->edit(), Qt::Key_Return);  // the default button
        });
        const auto typed = dialogs.AskPassword(quillix::PasswordPrompt::Enter, {});
        QVERIFY(typed.has_value());
        QCOMPARE(typed->text, std::string(" s3cret "));
    }

    void escapeCancels()
    {
        QtDialogs dialogs;
        WhenShown<PasswordDialog>([](PasswordDialog* d) {
            QTest::keyClicks(d->edit(), "typed");
            QTest::keyClick(d, Qt::Key_Escape);
        });
        QVERIFY(!dialogs.AskPassword(quillix::PasswordPrompt::Enter, {}).has_value());

        WhenShown<PasswordDialog>([](PasswordDialog* d) { d->cancelButton()->click(); });
        QVERIFY(!dialogs.AskPassword(quillix::PasswordPrompt::Enter, {}).has_value());
    }

    void messageBoxShowsCaptionTextAndIcon()
    {
        QtDialogs dialogs;
        WhenShown<QMessageBox>([](QMessageBox* box) {
            QCOMPARE(box->windowTitle(), QString("Warning"));
            QCOMPARE(box->text(), QString("Secure overwrite failed."));
            QCOMPARE(box->icon(), QMessageBox::Warning);
            QCOMPARE(box->buttons().size(), 1);
            box->button(QMessageBox::Ok)->click();
        });
        QCOMPARE(dialogs.ShowMessage("Warning", "Secure overwrite failed.", MessageIcon::Warning, MessageButtons::Ok),
                 MessageAnswer::Ok);

        WhenShown<QMessageBox>([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
        QCOMPARE(dialogs.ShowMessage("Delete", "Sure?", MessageIcon::Question, MessageButtons::YesNo),
                 MessageAnswer::No);
    }
};

QTEST_MAIN(DialogsWidgetTest)
#include "dialogs_widget_test.moc"
