#include "Service/Meta/Translator.h"

TMetaTranslator::TMetaTranslator(const QString& JSON) : Raw(ParseJson(JSON)) {
    if (!Raw.IsDocument())
        Raw = TJsonValue(TJSONVariantData());
    RawObject = SafeJsonData(Raw, jvObject);
}

QString TMetaTranslator::Text(const QString& Member) const {
    return RawObject.GetValueCopyDefault(Member, TJsonValue(QString())).AsString();
}

QString TMetaTranslator::GetName() const { return Text(QStringLiteral("name")); }
QString TMetaTranslator::GetDescription() const { return Text(QStringLiteral("description")); }
QString TMetaTranslator::GetVersion() const { return Text(QStringLiteral("version")); }
