#include "gallery/delete_dialog.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include <cstdio>

namespace quillix::gallery {
namespace {

constexpr int kWidth = 380;
constexpr int kHeight = 160;
constexpr int kButtonWidth = 110;
constexpr int kButtonHeight = 25;

}  // namespace

std::string DeleteQuestionText(int count, std::int64_t bytes)
{
    char text[128];
    std::snprintf(text, sizeof text, "Really delete %d file(s)?\nTotal size: %.2f MB", count,
                  static_cast<double>(bytes) / 1048576.0);
    return text;
}

DeleteFilesDialog::DeleteFilesDialog(int count, std::int64_t bytes, QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Delete files"));
    setWindowFlags(Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(kWidth, kHeight);

    auto* question = new QLabel(QString::fromStdString(DeleteQuestionText(count, bytes)), this);
    question->setGeometry(kWidth / 10, 16, kWidth - 2 * (kWidth / 10), 60);
    question->setWordWrap(true);
    question->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    const int base = (kWidth - 346) / 2;
    const int top = kHeight - 41;
    const auto button = [&](const char* text, int left, DeleteMode mode) {
        auto* b = new QPushButton(QString::fromLatin1(text), this);
        b->setGeometry(left, top, kButtonWidth, kButtonHeight);
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, [this, mode] { done(static_cast<int>(mode)); });
        return b;
    };
    QPushButton* secure = button("Secure overwrite", base + 236, DeleteMode::Secure);
    QPushButton* normal = button("Normal delete", base + 118, DeleteMode::Normal);
    QPushButton* cancel = button("Cancel", base, DeleteMode::Cancel);
    secure->setDefault(true);
    setTabOrder(secure, normal);
    setTabOrder(normal, cancel);
    secure->setFocus();

    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->geometry().center() - QPoint(kWidth / 2, kHeight / 2));
}

DeleteMode ChooseDeleteMode(int count, std::int64_t bytes, QWidget* parent)
{
    DeleteFilesDialog dialog(count, bytes, parent);
    switch (dialog.exec()) {
    case static_cast<int>(DeleteMode::Normal): return DeleteMode::Normal;
    case static_cast<int>(DeleteMode::Secure): return DeleteMode::Secure;
    default: return DeleteMode::Cancel;
    }
}

}  // namespace quillix::gallery
