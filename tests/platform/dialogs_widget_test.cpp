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
        QCOMPARE(dialog.findChildren<QLabel*>().size(), 1);
    }

    void typedPasswordComesBackUntrimmed()
    {
        QtDialogs dialogs;
        WhenShown<PasswordDialog>([](PasswordDialog* d) {
            QTest::keyClicks(d->edit(), " s3cret ");
            QTest::keyClick(d->edit(), Qt::Key_Return);  // the default button
        });
        QCOMPARE(dialogs.AskPassword(), std::optional<std::string>(" s3cret "));
    }

    void escapeCancels()
    {
        QtDialogs dialogs;
        WhenShown<PasswordDialog>([](PasswordDialog* d) {
            QTest::keyClicks(d->edit(), "typed");
            QTest::keyClick(d, Qt::Key_Escape);
        });
        QVERIFY(!dialogs.AskPassword().has_value());

        WhenShown<PasswordDialog>([](PasswordDialog* d) { d->cancelButton()->click(); });
        QVERIFY(!dialogs.AskPassword().has_value());
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
