#pragma once

#include "App/DataContracts.h"

#include <memory>

// Fetches the catalog page of one game from the service.
class TCatalogPageProvider {
public:
    // Download, conversion and type errors reach the caller.
    std::unique_ptr<TAppCatalogPage> GetCatalogPage(const QString& PublicKey);
};
