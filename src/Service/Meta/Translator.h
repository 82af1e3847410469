#pragma once

#include "Lib/Json.h"

#include <QString>

// The common fields of a metadata document; the kind-specific members are read from Raw by name.
class TMetaTranslator {
public:
    explicit TMetaTranslator(const QString& JSON);

    // Texts of "name", "description" and "version"; empty when missing, null or not an object.
    QString GetName() const;
    QString GetDescription() const;
    QString GetVersion() const;

    // The parsed document. Text that is not a JSON object or array gives an empty document here, so
    // that Raw["files"] and the like read as null rather than raise.
    TJsonValue Raw;

private:
    QString Text(const QString& Member) const;

    TJSONVariantData RawObject;
};
