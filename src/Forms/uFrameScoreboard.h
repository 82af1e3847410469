#pragma once

#include "App/DataContracts.h"

#include <QFrame>

#include <memory>
#include <vector>

class QLabel;
class QScrollArea;
class QVBoxLayout;

// One scoreboard: its entries fetched in the background and stacked from the top.
class TFrameScoreboard : public QFrame {
    Q_OBJECT
public:
    explicit TFrameScoreboard(QWidget* Owner = nullptr);

    // Stores the game key and board, then starts LoadData on the shared worker pool. Results that
    // arrive after the frame is gone are dropped.
    void AssignApp(const QString& AppKey, quint32 BoardID);

    QScrollArea* ScrollBox;
    // The error message of a failed load; null until one happened.
    QLabel* txtError = nullptr;

    const QString& Key() const { return FKey; }
    quint32 BoardID() const { return FBoardID; }
    // True once the load has ended, with entries or with an error.
    bool Loaded() const { return FLoaded; }

private:
    // The entries in the order of the document; "Format error" when its "data" is null.
    static std::vector<TScoreboardEntry> LoadData(const QString& AppKey, quint32 BoardID);
    void AddItems(const std::vector<TScoreboardEntry>& Entries);
    void ShowError(const QString& Message);

    QString FKey;
    quint32 FBoardID = 0;
    bool FLoaded = false;
    QWidget* FItems;
    QVBoxLayout* FItemsLayout;
};
