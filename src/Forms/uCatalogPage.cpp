#include "Forms/uCatalogPage.h"

#include "App/DataContracts.h"
#include "Service/AppsLibrary.h"
#include "Service/CatalogPageProvider.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

namespace {

QPointer<TfCatalogPage> gCatalogPage;

void SetBold(QLabel* label, bool bold) {
    QFont font = label->font();
    font.setBold(bold);
    label->setFont(font);
}

QFont SizedFont(const QFont& base, int points, bool bold) {
    QFont font = base;
    font.setPointSize(points);
    font.setBold(bold);
    return font;
}

} // namespace

TfCatalogPage::TfCatalogPage(QWidget* Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("fCatalogPage"));
    setWindowTitle(QStringLiteral("Catalog Page"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    resize(669, 497);

    panelBase = new QWidget(this);
    panelBase->setObjectName(QStringLiteral("panelBase"));
    txtTitle = new QLabel(panelBase);
    txtTitle->setObjectName(QStringLiteral("txtTitle"));
    txtTitle->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    txtTitle->setWordWrap(true);
    txtTitle->setFont(SizedFont(txtTitle->font(), 14, true));
    // The style sheet sets every widget's font size; the labels keep their own.
    txtTitle->setStyleSheet(QStringLiteral("font-size: 14pt; font-weight: bold;"));
    txtDesc = new QLabel(panelBase);
    txtDesc->setObjectName(QStringLiteral("txtDesc"));
    txtDesc->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    txtDesc->setWordWrap(true);
    txtDesc->setFont(SizedFont(txtDesc->font(), 12, false));
    txtDesc->setStyleSheet(QStringLiteral("font-size: 12pt;"));
    txtDesc->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Long descriptions scroll instead of growing the window.
    auto* descScroll = new QScrollArea(panelBase);
    descScroll->setObjectName(QStringLiteral("scrollDesc"));
    descScroll->setWidget(txtDesc);
    descScroll->setWidgetResizable(true);
    descScroll->setFrameShape(QFrame::NoFrame);
    auto* base = new QVBoxLayout(panelBase);
    base->setContentsMargins(12, 12, 12, 12);
    base->addWidget(txtTitle);
    base->addWidget(descScroll, 1);

    panelRight = new QWidget(this);
    panelRight->setObjectName(QStringLiteral("panelRight"));
    panelRight->setFixedWidth(185);
    imgCover = new QLabel(panelRight);
    imgCover->setObjectName(QStringLiteral("imgCover"));
    imgCover->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    imgCover->setMinimumSize(1, 1);
    imgCover->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
    txtReleaseDate = new QLabel(QStringLiteral("Дата релиза:"), panelRight);
    txtReleaseDate->setObjectName(QStringLiteral("txtReleaseDate"));
    txtAchievements = new QLabel(QStringLiteral("Достижения:"), panelRight);
    txtAchievements->setObjectName(QStringLiteral("txtAchievements"));
    txtScoreboards = new QLabel(QStringLiteral("Таблица рекордов:"), panelRight);
    txtScoreboards->setObjectName(QStringLiteral("txtScoreboards"));
    for (QLabel* label : {txtReleaseDate, txtAchievements, txtScoreboards})
        label->setWordWrap(true);
    auto* right = new QVBoxLayout(panelRight);
    right->setContentsMargins(0, 12, 12, 12);
    right->addWidget(imgCover, 1);
    right->addWidget(txtReleaseDate);
    right->addWidget(txtAchievements);
    right->addWidget(txtScoreboards);

    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(panelBase, 1);
    layout->addWidget(panelRight);
}

void TfCatalogPage::Show(TAppLibraryItem& AppItem, const QPixmap& Cover) {
    setWindowTitle(AppItem.Name);
    txtTitle->setText(AppItem.Name);
    txtDesc->setText(AppItem.Description);
    FCover = Cover;
    if (FCover.isNull())
        imgCover->clear();
    show();
    raise();
    activateWindow();
    ScaleCover();
    if (!AppItem.isCatalogPageLoaded())
        LoadCatalogPage(AppItem);
    FillFromPage(*AppItem.CatalogPage());
}

void TfCatalogPage::LoadCatalogPage(TAppLibraryItem& AppItem) {
    AppItem.SetCatalogPage(TCatalogPageProvider().GetCatalogPage(AppItem.PublicKey));
}

void TfCatalogPage::FillFromPage(const TAppCatalogPage& Page) {
    txtAchievements->setText(QStringLiteral("Достижения: ") +
                             (Page.AchievementCount ? QString::number(Page.AchievementCount) : QStringLiteral("нет")));
    SetBold(txtAchievements, Page.AchievementCount != 0);
    txtScoreboards->setText(QStringLiteral("Таблица рекордов: ") +
                            (Page.ScoreboardCount ? QStringLiteral("ДА") : QStringLiteral("нет")));
    SetBold(txtScoreboards, Page.ScoreboardCount != 0);
    txtReleaseDate->setText(QStringLiteral("Дата публикации: ") +
                            (Page.PublishedAt.isValid()
                                 ? QLocale().toString(Page.PublishedAt.date(), QLocale::ShortFormat)
                                 : QStringLiteral("неопределена")));
    txtDesc->setText(Page.DescriptionLong);
    txtTitle->setText(Page.Title);
}

void TfCatalogPage::ScaleCover() {
    if (FCover.isNull())
        return;
    const QSize box = imgCover->size();
    if (box.width() < 2 || box.height() < 2)
        return;
    imgCover->setPixmap(FCover.scaled(box, Qt::KeepAspectRatio, Qt::SmoothTransformation));
}

void TfCatalogPage::resizeEvent(QResizeEvent* Event) {
    QDialog::resizeEvent(Event);
    ScaleCover();
}

void TfCatalogPage::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(Event);
}

TfCatalogPage* CatalogPageWindow() {
    if (!gCatalogPage)
        gCatalogPage = new TfCatalogPage;
    return gCatalogPage;
}

void CreateCatalogPageWindow(QWidget* MainWindow) {
    if (!gCatalogPage)
        gCatalogPage = new TfCatalogPage(MainWindow);
}

void ShowCatalogPage(TAppLibraryItem& App, const QPixmap& Cover) {
    CatalogPageWindow()->Show(App, Cover);
}
