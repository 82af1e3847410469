#pragma once

#include <QFrame>

class QLabel;

// One entry of a scoreboard: the player's name and, on the right, the score.
class TFrameScoreboardItem : public QFrame {
    Q_OBJECT
public:
    explicit TFrameScoreboardItem(QWidget* Owner = nullptr);

    // The score with the user's thousands separator and no decimals; the user's own entry in bold.
    void SetValues(const QString& User, int Score, bool isScoreOwner);

    QLabel* txtUser;
    QLabel* txtScore;
};
