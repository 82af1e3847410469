#include "Forms/MsgBoxes.h"

#include <QApplication>
#include <QIcon>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStyle>

#include <algorithm>

namespace {

TMessageBoxHook gHook;

// Our texts break lines with carriage returns; Qt's labels only break on line feeds.
QString DisplayText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

QMessageBox::Icon IconOf(TMsgDlgType kind) {
    switch (kind) {
    case TMsgDlgType::mtWarning: return QMessageBox::Warning;
    case TMsgDlgType::mtError: return QMessageBox::Critical;
    case TMsgDlgType::mtInformation: return QMessageBox::Information;
    case TMsgDlgType::mtConfirmation: return QMessageBox::Question;
    }
    return QMessageBox::NoIcon;
}

QStyle::StandardPixmap PixmapOf(TMsgDlgType kind) {
    switch (kind) {
    case TMsgDlgType::mtWarning: return QStyle::SP_MessageBoxWarning;
    case TMsgDlgType::mtError: return QStyle::SP_MessageBoxCritical;
    case TMsgDlgType::mtInformation: return QStyle::SP_MessageBoxInformation;
    case TMsgDlgType::mtConfirmation: return QStyle::SP_MessageBoxQuestion;
    }
    return QStyle::SP_MessageBoxInformation;
}

// Shows a plain box, or hands it to the hook. Returns true for "Yes".
bool Show(TMsgDlgType kind, const QString& title, const QString& text, bool question) {
    if (gHook) {
        TMessageRecord record;
        record.Kind = kind;
        record.Title = title;
        record.Text = text;
        record.Question = question;
        return gHook(record);
    }
    QMessageBox box(IconOf(kind), title, DisplayText(text),
                    question ? (QMessageBox::Yes | QMessageBox::No) : QMessageBox::Ok,
                    QApplication::activeWindow());
    if (question) {
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
        box.setDefaultButton(QMessageBox::Yes);
        box.setEscapeButton(QMessageBox::No);
    }
    // Some desktop themes put stock pictures on the standard buttons; they clash with the flat look.
    for (QAbstractButton* button : box.buttons())
        button->setIcon(QIcon());
    return box.exec() == QMessageBox::Yes;
}

} // namespace

QString MessageTitle(TMsgDlgType Kind) {
    switch (Kind) {
    case TMsgDlgType::mtWarning: return QStringLiteral("Внимание");
    case TMsgDlgType::mtError: return QStringLiteral("Ошибка");
    case TMsgDlgType::mtInformation: return QStringLiteral("Информация");
    case TMsgDlgType::mtConfirmation: return QStringLiteral("Подтверждение");
    }
    return QString();
}

void ShowWarning(const QString& Text) {
    Show(TMsgDlgType::mtWarning, MessageTitle(TMsgDlgType::mtWarning), Text, false);
}

void ShowError(const QString& Text) {
    Show(TMsgDlgType::mtError, MessageTitle(TMsgDlgType::mtError), Text, false);
}

void ShowInfo(const QString& Text) {
    Show(TMsgDlgType::mtInformation, MessageTitle(TMsgDlgType::mtInformation), Text, false);
}

bool AskConfirmation(const QString& Text) {
    return Show(TMsgDlgType::mtConfirmation, MessageTitle(TMsgDlgType::mtConfirmation), Text, true);
}

bool AskWarningConfirmation(const QString& Text) {
    return Show(TMsgDlgType::mtWarning, MessageTitle(TMsgDlgType::mtConfirmation), Text, true);
}

void ShowErrorWithDetails(const QString& Text, const QString& Details) {
    if (Details.trimmed().isEmpty())
        ShowError(Text);
    else
        ShowDetailsDialog(Text, Details, TMsgDlgType::mtError);
}

void ShowDetailsDialog(const QString& Text, const QString& Details, TMsgDlgType Kind) {
    if (gHook) {
        TMessageRecord record;
        record.Kind = Kind;
        record.Title = MessageTitle(Kind);
        record.Text = Text;
        record.Details = Details;
        gHook(record);
        return;
    }
    TDetailsDialog dialog(Text, Details, Kind, QApplication::activeWindow());
    QApplication::beep();
    dialog.exec();
}

TDetailsDialog::TDetailsDialog(const QString& Text, const QString& Details, TMsgDlgType Kind, QWidget* Parent)
    : QDialog(Parent) {
    setObjectName(QStringLiteral("DetailsDialog"));
    setWindowTitle(MessageTitle(Kind));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setWindowFlag(Qt::WindowStaysOnTopHint, true);

    const int margin = 12;
    const int iconSize = 32;

    Image = new QLabel(this);
    Image->setObjectName(QStringLiteral("Image"));
    Image->setPixmap(style()->standardIcon(PixmapOf(Kind), nullptr, this).pixmap(iconSize, iconSize));
    Image->setFixedSize(iconSize, iconSize);

    Message = new QLabel(DisplayText(Text), this);
    Message->setObjectName(QStringLiteral("Message"));
    Message->setWordWrap(true);
    Message->setTextInteractionFlags(Qt::TextSelectableByMouse);
    int textWidth = 0;
    for (const QString& line : Message->text().split(QLatin1Char('\n')))
        textWidth = std::max(textWidth, Message->fontMetrics().horizontalAdvance(line));
    const int labelWidth = std::clamp(textWidth + 4, 120, 440);
    const int labelHeight = Message->heightForWidth(labelWidth);

    bOK = new QPushButton(QStringLiteral("OK"), this);
    bOK->setObjectName(QStringLiteral("bOK"));
    bDetails = new QPushButton(QStringLiteral("<< Показать"), this);
    bDetails->setObjectName(QStringLiteral("bDetails"));
    bDetails->setToolTip(QStringLiteral("Показать дополнительную информацию, связанную с ошибкой"));
    bDetails->setAutoDefault(false);
    bDetails->setProperty("tag", 0);
    // Both buttons take the wider of the two sizes, so neither text is cut.
    const int buttonWidth = std::max({75, bOK->sizeHint().width(), bDetails->sizeHint().width()});
    const int buttonHeight = std::max(bOK->sizeHint().height(), bDetails->sizeHint().height());

    const int textLeft = margin + iconSize + margin;
    const int buttonTop = margin + std::max(iconSize, labelHeight) + 16;
    const int clientWidth = std::max(textLeft + labelWidth + margin, 3 * buttonWidth);
    const int detailsLeft = clientWidth / 2 - 2 - buttonWidth;
    bDetails->setGeometry(detailsLeft, buttonTop, buttonWidth, buttonHeight);
    bOK->setGeometry(detailsLeft + buttonWidth + 4, buttonTop, buttonWidth, buttonHeight);
    bOK->setDefault(true);
    FMemoTop = buttonTop + buttonHeight + margin;

    Memo = new QPlainTextEdit(this);
    Memo->setObjectName(QStringLiteral("Memo"));
    Memo->setReadOnly(true);
    Memo->setPlainText(DisplayText(Details));
    Memo->setFocusPolicy(Qt::NoFocus);
    Memo->setEnabled(false);
    Memo->setLineWrapMode(QPlainTextEdit::NoWrap);
    // The window's own background, so the details read as part of the dialog.
    Memo->setStyleSheet(QStringLiteral("QPlainTextEdit#Memo { background-color: transparent; }"));
    const int lineCount = Memo->document()->blockCount();
    Memo->setVerticalScrollBarPolicy(lineCount > 3 ? Qt::ScrollBarAlwaysOn : Qt::ScrollBarAlwaysOff);
    const int memoHeight = Memo->fontMetrics().lineSpacing() * 6 + 2 * Memo->frameWidth() +
                           static_cast<int>(Memo->document()->documentMargin() * 2);
    Memo->setGeometry(0, FMemoTop, clientWidth, memoHeight);

    // The text sits in the middle of the space above the buttons.
    Image->move(margin, buttonTop / 2 - iconSize / 2);
    Message->setGeometry(textLeft, buttonTop / 2 - labelHeight / 2, labelWidth, labelHeight);

    setFixedSize(clientWidth, FMemoTop);
    if (const QScreen* screen = Parent ? Parent->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(clientWidth / 2, (FMemoTop + memoHeight) / 2));

    connect(bOK, &QPushButton::clicked, this, &QDialog::accept);
    connect(bDetails, &QPushButton::clicked, this, &TDetailsDialog::ToggleDetails);

    bOK->setFocus();
    ToggleDetails();
}

bool TDetailsDialog::DetailsShown() const {
    return bDetails->property("tag").toInt() == 1;
}

void TDetailsDialog::ToggleDetails() {
    if (DetailsShown()) {
        bDetails->setText(QStringLiteral("<< Показать"));
        setFixedSize(width(), FMemoTop);
        Memo->setEnabled(false);
        bDetails->setProperty("tag", 0);
    } else {
        bDetails->setText(QStringLiteral(">> Скрыть"));
        setFixedSize(width(), FMemoTop + Memo->height());
        Memo->setEnabled(true);
        bDetails->setProperty("tag", 1);
    }
}

TScopedMessageBoxHook::TScopedMessageBoxHook(TMessageBoxHook Hook) : FPrevious(std::move(gHook)) {
    gHook = std::move(Hook);
}

TScopedMessageBoxHook::~TScopedMessageBoxHook() {
    gHook = std::move(FPrevious);
}
