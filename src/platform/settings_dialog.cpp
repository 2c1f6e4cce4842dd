#include "platform/settings_dialog.h"

#include "container/key_derivation.h"
#include "platform/dialog_art.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>
#include <QTimer>

namespace quillix::platform {
namespace {

constexpr int kClientWidth = 416;
// Taller than the four-cipher layout by the strong cipher's row, whose caption takes two lines:
// on one line it would make the dialog wider by a third.
constexpr int kAlgorithmRow = 32;
constexpr int kStrongWidth = 172;
constexpr int kClientHeight = 251 + kAlgorithmRow;
constexpr int kStripHeight = 40;

QRadioButton* AddRadio(QWidget* parent, QButtonGroup* group, int id, const QString& caption, int x, int y)
{
    auto* button = new QRadioButton(caption, parent);
    button->move(x, y);
    button->adjustSize();
    group->addButton(button, id);
    return button;
}

// A radio button whose caption wraps within its width; text() stays the caption as given.
class WrappingRadioButton : public QRadioButton {
public:
    using QRadioButton::QRadioButton;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QStylePainter painter(this);
        QStyleOptionButton option;
        initStyleOption(&option);
        const QString caption = option.text;
        option.text.clear();
        painter.drawControl(QStyle::CE_RadioButton, option);
        option.text = caption;
        const QRect textRect = style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
        constexpr int kFlags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextWordWrap;
        painter.drawItemText(textRect, kFlags, option.palette, isEnabled(), caption, QPalette::WindowText);
        // The style draws the focus frame around the caption it drew, and it drew none.
        if (option.state & QStyle::State_HasFocus) {
            QStyleOptionFocusRect focus;
            focus.initFrom(this);
            focus.rect = painter.boundingRect(textRect, kFlags, caption).adjusted(-1, 0, 1, 0);
            painter.drawPrimitive(QStyle::PE_FrameFocusRect, focus);
        }
    }
    bool hitButton(const QPoint& pos) const override { return rect().contains(pos); }
};

QCheckBox* AddCheck(QWidget* parent, const QString& caption, int x, int y)
{
    auto* box = new QCheckBox(caption, parent);
    box->move(x, y);
    box->adjustSize();
    return box;
}

QLabel* AddLabel(QWidget* parent, const QString& caption, int x, int y)
{
    auto* label = new QLabel(caption, parent);
    label->move(x, y);
    label->adjustSize();
    return label;
}

QPushButton* AddFlatButton(QWidget* parent, const QString& caption, const QIcon& glyph, const QRect& geometry)
{
    auto* button = new QPushButton(glyph, caption, parent);
    button->setGeometry(geometry);
    button->setFlat(true);
    button->setAutoDefault(false);
    return button;
}

// Selects the button of `id` in an exclusive group, or none when no button has it.
void SelectOnly(QButtonGroup* group, int id)
{
    group->setExclusive(false);
    for (QAbstractButton* button : group->buttons())
        button->setChecked(group->id(button) == id);
    group->setExclusive(true);
}

}  // namespace

SettingsDialog::SettingsDialog(settings::AppOptions& options, settings::SettingsStore& appSettings,
                               settings::SettingsStore& regeditSettings, const QImage& marble, QWidget* parent)
    : QDialog(parent), options_(options), appSettings_(appSettings), regeditSettings_(regeditSettings), marble_(marble)
{
    setWindowTitle(QStringLiteral("Settings"));
    setWindowFlags((windowFlags() | Qt::MSWindowsFixedSizeDialogHint) & ~Qt::WindowContextHelpButtonHint);
    setFont(DialogFont());
    setFixedSize(kClientWidth, kClientHeight);

    auto* security = new QGroupBox(QStringLiteral("Security Settings "), this);
    security->setGeometry(8, 4, 206, 202 + kAlgorithmRow);
    AddLabel(security, QStringLiteral("Passes: "), 10, 24);
    passesEdit_ = new QLineEdit(security);
    passesEdit_->setGeometry(78, 20, 44, 21);
    passesEdit_->setValidator(new QIntValidator(settings::kMinPasses, settings::kMaxPasses, passesEdit_));
    passesEdit_->setToolTip(QStringLiteral("%1 to %2").arg(settings::kMinPasses).arg(settings::kMaxPasses));
    AddLabel(security, QStringLiteral("Max Bytes :"), 10, 50);
    maxBytesEdit_ = new QLineEdit(security);
    maxBytesEdit_->setGeometry(78, 46, 44, 21);
    fullFileBox_ = AddCheck(security, QStringLiteral("Full File"), 128, 48);

    auto* algorithm = new QGroupBox(QStringLiteral(" Algorithm "), security);
    algorithm->setGeometry(8, 74, 190, 62 + kAlgorithmRow);
    algorithms_ = new QButtonGroup(this);
    QRadioButton* aes = AddRadio(algorithm, algorithms_, 0, QStringLiteral("AES"), 10, 18);
    QFont bold = aes->font();
    bold.setBold(true);
    aes->setFont(bold);
    aes->adjustSize();
    AddRadio(algorithm, algorithms_, 2, QStringLiteral("ChaCha20"), 96, 18);
    AddRadio(algorithm, algorithms_, 3, QStringLiteral("Twofish"), 10, 38);
    QRadioButton* blowfish = AddRadio(algorithm, algorithms_, 1, QStringLiteral("Blowfish"), 96, 38);
    QPalette grey = blowfish->palette();
    grey.setColor(QPalette::WindowText, QColor(128, 128, 128));
    blowfish->setPalette(grey);
    auto* strong = new WrappingRadioButton(QStringLiteral("Strong (Argon2id, XChaCha20-Poly1305)"), algorithm);
    strong->setGeometry(10, 58, kStrongWidth, kAlgorithmRow);
    algorithms_->addButton(strong, settings::kStrongAlgorithm);
    // As a paragraph, so that the tip wraps instead of running across the screen.
    strong->setToolTip(QStringLiteral("<p>Only Quillix reads this format. It encrypts the whole file, and a renamed "
                                      "file still opens: Max Bytes, Password+FileName and FAST do not apply.</p>"));

    fileNamePasswordBox_ = AddCheck(security, QStringLiteral("Password+FileName"), 10, 146 + kAlgorithmRow);
    fastBox_ = AddCheck(security, QStringLiteral("FAST (less secure)"), 10, 170 + kAlgorithmRow);
    // At once, whether or not Apply follows: keys derived the other way must not be reused.
    connect(fastBox_, &QCheckBox::clicked, this, [] { container::ClearKeyCache(); });

    auto* mouse = new QGroupBox(QStringLiteral("Mouse Zoom && Wheel Control "), this);
    mouse->setGeometry(220, 4, 188, 106);
    mouseOptions_ = new QButtonGroup(this);
    AddRadio(mouse, mouseOptions_, settings::kMouseStepZoomWithShift, QStringLiteral("Fwd/Bckwd (Zoom w/ Shift)"), 10,
             20);
    AddRadio(mouse, mouseOptions_, settings::kMouseZoomStepWithShift, QStringLiteral("Zoom (Fwd/Bckwd w/ Shift)"), 10,
             40);
    AddRadio(mouse, mouseOptions_, settings::kMouseToggleWithRightButton, QStringLiteral("Toogle w/ RMouse"), 10, 60)
        ->setChecked(true);
    revertZoomBox_ = AddCheck(mouse, QStringLiteral("Revert Zoom In && Out"), 10, 82);

    auto* pin = new QGroupBox(QStringLiteral("Parental PIN"), this);
    pin->setGeometry(220, 114, 188, 92 + kAlgorithmRow);
    AddLabel(pin, QStringLiteral("PIN:"), 10, 24);
    pinEdit_ = new QLineEdit(pin);
    pinEdit_->setGeometry(40, 20, 60, 21);
    pinEdit_->setAccessibleName(QStringLiteral("PIN"));
    pinEdit_->setMaxLength(4);
    pinEdit_->setEchoMode(QLineEdit::Password);
    pinEdit_->setStyleSheet(QStringLiteral("lineedit-password-character: 42"));  // "*"
    // Only what the prompt can take: up to four digits.
    pinEdit_->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]{0,4}")), pinEdit_));
    clearPinButton_ = new QPushButton(QStringLiteral("CLR"), pin);
    clearPinButton_->setGeometry(108, 19, 44, 23);
    clearPinButton_->setAutoDefault(false);
    connect(clearPinButton_, &QPushButton::clicked, this, &SettingsDialog::clearPin);
    auto* explanation =
        new QLabel(QStringLiteral("If set, this PIN is required for viewing any image file or folder."), pin);
    explanation->setGeometry(10, 48, 172, 38);
    explanation->setWordWrap(true);
    explanation->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    QPalette greyText = explanation->palette();
    greyText.setColor(QPalette::WindowText, QColor(128, 128, 128));
    explanation->setPalette(greyText);

    marbleStrip_ = new QLabel(this);
    marbleStrip_->setGeometry(0, kClientHeight - kStripHeight, kClientWidth, kStripHeight);
    applyButton_ = AddFlatButton(this, QStringLiteral("&Apply"), ApplyGlyph(),
                                 QRect(kClientWidth - 176, kClientHeight - 33, 80, 26));
    applyButton_->setDefault(true);
    connect(applyButton_, &QPushButton::clicked, this, &SettingsDialog::applyAndClose);
    cancelButton_ = AddFlatButton(this, QStringLiteral("&Cancel"), CancelGlyph(),
                                  QRect(kClientWidth - 90, kClientHeight - 33, 82, 26));
    connect(cancelButton_, &QPushButton::clicked, this, &QDialog::reject);

    fullFileTimer_ = new QTimer(this);
    fullFileTimer_->setInterval(200);
    connect(fullFileTimer_, &QTimer::timeout, this, &SettingsDialog::keepFullFileInStep);
    // A click shows its effect at once, not up to 200 ms later.
    connect(fullFileBox_, &QCheckBox::toggled, this, &SettingsDialog::keepFullFileInStep);
}

QRadioButton* SettingsDialog::algorithmButton(int cipherId) const
{
    return qobject_cast<QRadioButton*>(algorithms_->button(cipherId));
}

QRadioButton* SettingsDialog::mouseButton(int mouseOption) const
{
    return qobject_cast<QRadioButton*>(mouseOptions_->button(mouseOption));
}

void SettingsDialog::showEvent(QShowEvent* event)
{
    showSettings();
    if (const QScreen* screen = parentWidget() ? parentWidget()->screen() : QGuiApplication::primaryScreen())
        move(screen->geometry().center() - rect().center());
    fullFileTimer_->start();
    QDialog::showEvent(event);
}

void SettingsDialog::hideEvent(QHideEvent* event)
{
    // Nothing to keep in step while nobody sees it.
    fullFileTimer_->stop();
    QDialog::hideEvent(event);
}

void SettingsDialog::showSettings()
{
    marbleStrip_->setPixmap(QPixmap::fromImage(TileImage(marble_, marbleStrip_->width(), marbleStrip_->height())));
    settings::SettingsFormState form;
    settings::ShowSettings(form, options_, appSettings_);
    maxBytesEdit_->setText(QString::fromStdString(form.maxBytes));
    {
        const QSignalBlocker quiet(fullFileBox_);
        fullFileBox_->setChecked(form.fullFile);
    }
    maxBytesEdit_->setEnabled(!form.fullFile);
    passesEdit_->setText(QString::fromStdString(form.passes));
    revertZoomBox_->setChecked(form.mouseRevert);
    SelectOnly(mouseOptions_, form.mouseOption);
    fileNamePasswordBox_->setChecked(form.fileNamePW);
    fastBox_->setChecked(form.fast);
    SelectOnly(algorithms_, form.encryptionAlg);
    passesEdit_->setFocus();
}

settings::SettingsFormState SettingsDialog::formState() const
{
    settings::SettingsFormState form;
    form.maxBytes = maxBytesEdit_->text().toStdString();
    form.fullFile = fullFileBox_->isChecked();
    form.passes = passesEdit_->text().toStdString();
    form.mouseRevert = revertZoomBox_->isChecked();
    form.mouseOption = mouseOptions_->checkedId();
    form.encryptionAlg = algorithms_->checkedId();
    form.fileNamePW = fileNamePasswordBox_->isChecked();
    form.fast = fastBox_->isChecked();
    form.pin = pinEdit_->text().toStdString();
    return form;
}

void SettingsDialog::applyAndClose()
{
    keepFullFileInStep();
    settings::ApplySettings(formState(), options_, appSettings_, regeditSettings_);
    accept();
}

void SettingsDialog::keepFullFileInStep()
{
    settings::FullFileControls controls;
    controls.fullFile = fullFileBox_->isChecked();
    controls.maxBytes = maxBytesEdit_->text().toStdString();
    controls.fieldHasFocus = maxBytesEdit_->hasFocus();
    settings::KeepFullFileInStep(controls);
    const QString text = QString::fromStdString(controls.maxBytes);
    if (maxBytesEdit_->text() != text) maxBytesEdit_->setText(text);
    if (fullFileBox_->isChecked() != controls.fullFile) {
        const QSignalBlocker quiet(fullFileBox_);
        fullFileBox_->setChecked(controls.fullFile);
    }
    maxBytesEdit_->setEnabled(controls.fieldEnabled);
}

void SettingsDialog::clearPin()
{
    settings::ClearPin(options_, regeditSettings_);
    // The field is emptied too, or the next Apply would set the PIN just cleared again.
    pinEdit_->clear();
}

void ShowSettingsDialog(QWidget* owner, settings::AppOptions& options, settings::SettingsStore& appSettings,
                        settings::SettingsStore& regeditSettings, const QImage& marble)
{
    if (!owner) {
        SettingsDialog dialog(options, appSettings, regeditSettings, marble);
        dialog.exec();
        return;
    }
    auto* dialog = owner->findChild<SettingsDialog*>(QString(), Qt::FindDirectChildrenOnly);
    if (!dialog) dialog = new SettingsDialog(options, appSettings, regeditSettings, marble, owner);
    dialog->exec();
}

}  // namespace quillix::platform
