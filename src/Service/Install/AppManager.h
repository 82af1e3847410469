#pragma once

#include "Service/Install/SyncAbstractManager.h"

#include <QStringList>

// A game: its files go to the Path of its library item, and it brings the components its metadata names.
class TAppManager : public TSyncAbstractManager {
public:
    explicit TAppManager(const QString& APublicKey);

    bool isAvailable() override;
    void InstallDependencies() override;
    // Raises "Can't get item path: <key>" when the game has no item or its Path is empty.
    QString GetPath() override;
    TGenericLibraryItem* GetItem() override;

    // The game's components in metadata order; empty until InstallWhenNotAvailable has read them.
    const QStringList& Components() const { return FDeps; }

private:
    QStringList FDeps;
};
