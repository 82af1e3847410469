#include "Service/DirWatcher/ThunderQ.h"

#include "App/Exceptions.h"

#include <QByteArray>
#include <QFile>
#include <QtEndian>

#include <memory>

const QString TqBoardName = QStringLiteral("e41b07c39a5f4d6e8c2a1f90b3d7c655");

namespace {

constexpr int TableOffset = 198;
constexpr int RecordSize = 16;
constexpr int RecordCount = 9;
constexpr int MinNewScore = 10; // below that are the placeholder scores of the prepared table

std::unique_ptr<QByteArray> GSnapshot;
QString GPath;

QByteArray ReadTable(const QString& Path) {
    QFile file(Path);
    if (!file.open(QIODevice::ReadOnly))
        throw EInOutError(QStringLiteral("Cannot read %1: %2").arg(Path, file.errorString()));
    const QByteArray bytes = file.read(TqFileSize);
    if (bytes.size() < TqFileSize)
        throw EInOutError(QStringLiteral("Cannot read %1: it is shorter than %2 bytes").arg(Path).arg(TqFileSize));
    return bytes;
}

qint32 RecordScore(const QByteArray& Table, int Index) {
    return qFromLittleEndian<qint32>(Table.constData() + TableOffset + RecordSize * Index);
}

} // namespace

void TqResetScoreTable(const QString& Path) {
    // The reset discards the player's own high scores; the first time, their file is kept beside it.
    const QString original = Path + QStringLiteral(".orig");
    if (!QFile::exists(original)) {
        ReadTable(Path);
        if (!QFile::copy(Path, original))
            throw EInOutError(QStringLiteral("Cannot keep a copy of %1 as %2").arg(Path, original));
    }
    QFile file(Path);
    if (!file.open(QIODevice::ReadWrite))
        throw EInOutError(QStringLiteral("Cannot write %1: %2").arg(Path, file.errorString()));
    if (file.size() < TqFileSize)
        throw EInOutError(QStringLiteral("Cannot read %1: it is shorter than %2 bytes").arg(Path).arg(TqFileSize));
    QByteArray records;
    for (int n = RecordCount; n >= 1; --n) {
        char score[4];
        qToLittleEndian<qint32>(n, score);
        records.append(score, 4);
        records.append(RecordSize - 4, char(0xFF));
    }
    if (!file.seek(TableOffset) || file.write(records) != records.size() || !file.flush())
        throw EInOutError(QStringLiteral("Cannot write %1: %2").arg(Path, file.errorString()));
}

void TqStartScoreWatch(const QString& Path) {
    if (!GSnapshot)
        GSnapshot = std::make_unique<QByteArray>(TqFileSize, '\0');
    GPath = Path;
    TqResetScoreTable(Path);
    *GSnapshot = ReadTable(Path);
}

int TqReadNewScore() {
    QByteArray fresh = ReadTable(GPath);
    int result = 0;
    for (int i = 0; i < RecordCount && result == 0; ++i) {
        const qint32 score = RecordScore(fresh, i);
        if (score >= MinNewScore && (!GSnapshot || score != RecordScore(*GSnapshot, i)))
            result = score;
    }
    if (!GSnapshot)
        GSnapshot = std::make_unique<QByteArray>();
    *GSnapshot = std::move(fresh);
    return result;
}

void TqDone() {
    GSnapshot.reset();
    GPath.clear();
}
