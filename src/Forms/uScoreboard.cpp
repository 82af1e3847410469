#include "Forms/uScoreboard.h"

#include "Forms/Debug.h"
#include "Forms/uFrameScoreboard.h"
#include "Service/AppsLibrary.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QTabWidget>
#include <QVBoxLayout>

#include <algorithm>

namespace {

constexpr int InitialWidth = 635;
constexpr int InitialHeight = 578;

} // namespace

TfScoreboard::TfScoreboard(QWidget* Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("fScoreboard"));
    setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    resize(InitialWidth, InitialHeight);
    setMinimumSize(InitialWidth, InitialHeight / 2);
    setMaximumWidth(InitialWidth);

    PageControl = new QTabWidget(this);
    PageControl->setObjectName(QStringLiteral("PageControl"));
    PageControl->setDocumentMode(true);

    panelFooter = new QFrame(this);
    panelFooter->setObjectName(QStringLiteral("panelFooter"));
    panelFooter->setFixedHeight(41);
    bClose = new QPushButton(QStringLiteral("Закрыть"), panelFooter);
    bClose->setObjectName(QStringLiteral("bClose"));
    bClose->setDefault(true);
    auto* footer = new QHBoxLayout(panelFooter);
    footer->setContentsMargins(8, 4, 8, 4);
    footer->addStretch();
    footer->addWidget(bClose);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(PageControl, 1);
    layout->addWidget(panelFooter);

    // Esc reaches QDialog::reject, which closes as "Закрыть" does.
    connect(bClose, &QPushButton::clicked, this, &QDialog::reject);
    connect(PageControl, &QTabWidget::currentChanged, this, UserAction(PageControl, [this] { PageControlChange(); }));
}

void TfScoreboard::AssignApp(const TAppLibraryItem& App) {
    FKey = App.PublicKey;
    setWindowTitle(QStringLiteral("%1 - таблица очков").arg(App.Name));
    FBoards = App.AppConfig() ? App.AppConfig()->Scoreboards : QList<TScoreboardLine>();
    BuildTabs();
}

void TfScoreboard::BuildTabs() {
    {
        // Adding the first page makes it current; it is loaded once, below.
        const QSignalBlocker quiet(PageControl);
        for (const TScoreboardLine& board : FBoards) {
            auto* page = new QWidget;
            page->setObjectName(QStringLiteral("tabBoard%1").arg(board.Id));
            page->setProperty("tag", board.Id);
            auto* pageLayout = new QVBoxLayout(page);
            pageLayout->setContentsMargins(0, 0, 0, 0);
            PageControl->addTab(page, board.Title);
        }
    }
    const bool single = FBoards.size() == 1;
    PageControl->tabBar()->setVisible(!single);
    if (single)
        PageControl->setTabText(0, QString());
    if (!FBoards.isEmpty()) {
        PageControl->setCurrentIndex(0);
        PageControlChange();
    }
}

void TfScoreboard::PageControlChange() {
    QWidget* page = PageControl->currentWidget();
    if (!page || page->findChild<TFrameScoreboard*>(QString(), Qt::FindDirectChildrenOnly))
        return;
    const quint32 boardId = page->property("tag").toUInt();
    auto* frame = new TFrameScoreboard(page);
    frame->setObjectName(QStringLiteral("FrameScoreBoard%1").arg(boardId));
    page->layout()->addWidget(frame);
    frame->AssignApp(FKey, boardId);
}

void ShowScoreboards(QWidget* Owner, const TAppLibraryItem& App) {
    if (!App.AppConfig() || !App.AppConfig()->hasScoreboards())
        return;
    TfScoreboard form(Owner);
    form.AssignApp(App);
    if (Owner) {
        // Centred on the tile itself rather than on the window that holds it, kept on its screen.
        QRect frame(QPoint(), form.size());
        frame.moveCenter(Owner->mapToGlobal(Owner->rect().center()));
        if (const QScreen* screen = Owner->screen()) {
            const QRect area = screen->availableGeometry();
            frame.moveLeft(std::clamp(frame.left(), area.left(), std::max(area.left(), area.right() - frame.width())));
            frame.moveTop(std::clamp(frame.top(), area.top(), std::max(area.top(), area.bottom() - frame.height())));
        }
        form.move(frame.topLeft());
    }
    form.exec();
}
