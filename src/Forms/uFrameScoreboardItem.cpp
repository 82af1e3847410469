#include "Forms/uFrameScoreboardItem.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>

TFrameScoreboardItem::TFrameScoreboardItem(QWidget* Owner) : QFrame(Owner) {
    setObjectName(QStringLiteral("FrameScoreboardItem"));
    setFixedHeight(47);
    txtUser = new QLabel(this);
    txtUser->setObjectName(QStringLiteral("txtUser"));
    txtUser->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    txtScore = new QLabel(this);
    txtScore->setObjectName(QStringLiteral("txtScore"));
    txtScore->setAlignment(Qt::AlignCenter);
    txtScore->setMinimumWidth(140);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(16, 0, 16, 0);
    layout->addWidget(txtUser, 1);
    layout->addWidget(txtScore);
}

void TFrameScoreboardItem::SetValues(const QString& User, int Score, bool isScoreOwner) {
    txtUser->setText(User);
    txtScore->setText(QLocale().toString(Score));
    for (QLabel* label : {txtUser, txtScore}) {
        QFont font = label->font();
        font.setBold(isScoreOwner);
        label->setFont(font);
    }
}
