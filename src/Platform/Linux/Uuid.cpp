#include "Platform/Uuid.h"

#include <QUuid>

QString NewGuidText() {
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}
