#pragma once

#include "Service/Install/SyncAbstractManager.h"

// A shared component: its files go to the components folder followed by the key, and it brings the
// dependency installers its metadata names.
class TComponentManager : public TSyncAbstractManager {
public:
    explicit TComponentManager(const QString& APublicKey);

    bool isAvailable() override;
    void InstallDependencies() override;
    QString GetPath() override { return FPath; }
    TGenericLibraryItem* GetItem() override;

private:
    QString FPath;
};
