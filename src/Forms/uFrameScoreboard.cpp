#include "Forms/uFrameScoreboard.h"

#include "App/Exceptions.h"
#include "App/MainThread.h"
#include "App/Paths.h"
#include "Forms/uFrameScoreboardItem.h"
#include "Lib/Json.h"
#include "Service/Converters/Json.h"
#include "Service/FileDownloader.h"

#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QThreadPool>
#include <QUrl>
#include <QVBoxLayout>

TFrameScoreboard::TFrameScoreboard(QWidget* Owner) : QFrame(Owner) {
    ScrollBox = new QScrollArea(this);
    ScrollBox->setObjectName(QStringLiteral("ScrollBox"));
    ScrollBox->setFrameShape(QFrame::NoFrame);
    ScrollBox->setWidgetResizable(true);
    ScrollBox->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    FItems = new QWidget;
    FItems->setObjectName(QStringLiteral("ScrollBoxItems"));
    FItemsLayout = new QVBoxLayout(FItems);
    FItemsLayout->setContentsMargins(0, 0, 0, 0);
    FItemsLayout->setSpacing(0);
    FItemsLayout->addStretch(1);
    ScrollBox->setWidget(FItems);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(ScrollBox);
}

void TFrameScoreboard::AssignApp(const QString& AppKey, quint32 BoardID) {
    FKey = AppKey;
    FBoardID = BoardID;
    const QPointer<TFrameScoreboard> self(this);
    QThreadPool::globalInstance()->start([self, AppKey, BoardID] {
        std::vector<TScoreboardEntry> entries;
        QString error;
        bool failed = false;
        try {
            entries = LoadData(AppKey, BoardID);
        } catch (const Exception& e) {
            failed = true;
            error = e.Message();
        } catch (const std::exception& e) {
            failed = true;
            error = QString::fromUtf8(e.what());
        } catch (...) {
            failed = true;
        }
        // Queued, never waited for: the window may be gone (or going) by the time this runs.
        QueueOnMainThread([self, entries = std::move(entries), error, failed] {
            if (!self)
                return;
            if (failed)
                self->ShowError(error);
            else
                self->AddItems(entries);
        });
    });
}

std::vector<TScoreboardEntry> TFrameScoreboard::LoadData(const QString& AppKey, quint32 BoardID) {
    QString url = ScoreboardUrl();
    // The key goes into the path; escaped so that it cannot reach another address.
    if (const qsizetype at = url.indexOf(QStringLiteral("%s")); at >= 0)
        url.replace(at, 2, QString::fromLatin1(QUrl::toPercentEncoding(AppKey)));
    if (const qsizetype at = url.indexOf(QStringLiteral("%d")); at >= 0)
        url.replace(at, 2, QString::number(BoardID));
    const TJsonValue document = ParseJson(TFileDownloader().Get(url));
    const TJsonValue data = document.Member(QStringLiteral("data"));
    if (data.IsNull())
        throw Exception(QStringLiteral("Format error"));
    std::vector<TScoreboardEntry> entries;
    for (auto& entry : TJsonScoreboardEntryListConverter::CreateListFromJson(data))
        entries.push_back(*entry);
    return entries;
}

void TFrameScoreboard::AddItems(const std::vector<TScoreboardEntry>& Entries) {
    const int first = FItemsLayout->count() - 1; // before the closing stretch
    for (size_t i = 0; i < Entries.size(); ++i) {
        auto* item = new TFrameScoreboardItem(FItems);
        item->SetValues(Entries[i].UserName, Entries[i].Score, Entries[i].isOwner);
        item->setObjectName(QStringLiteral("FrameScoreboardItem%1").arg(i));
        FItemsLayout->insertWidget(first + int(i), item);
    }
    FLoaded = true;
}

void TFrameScoreboard::ShowError(const QString& Message) {
    if (!txtError) {
        txtError = new QLabel(this);
        txtError->setObjectName(QStringLiteral("txtError"));
        txtError->setWordWrap(true);
        txtError->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        txtError->setContentsMargins(12, 12, 12, 12);
        static_cast<QVBoxLayout*>(layout())->insertWidget(0, txtError);
    }
    // Our messages break lines with carriage returns.
    QString text = Message;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")).replace(QLatin1Char('\r'), QLatin1Char('\n'));
    txtError->setText(text);
    FLoaded = true;
}
