#include "Forms/uAppInstall.h"

#include "Forms/MsgBoxes.h"
#include "Forms/uFrameInstallTask.h"
#include "Service/AppsLibrary.h"
#include "Service/EventReporter.h"
#include "Service/Install/Tasks.h"
#include "Service/Meta/Providers.h"
#include "Service/Meta/Translator.h"

#include <QCloseEvent>
#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QVBoxLayout>

namespace {

QFrame* ButtonPanel(QWidget* Owner, const QString& PanelName, QPushButton*& Button, const QString& ButtonName,
                    const QString& Caption) {
    auto* panel = new QFrame(Owner);
    panel->setObjectName(PanelName);
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(4, 0, 4, 0);
    Button = new QPushButton(Caption, panel);
    Button->setObjectName(ButtonName);
    Button->setMinimumWidth(110);
    layout->addWidget(Button);
    return panel;
}

void MakeBold(QWidget* Widget) {
    QFont font = Widget->font();
    font.setBold(true);
    Widget->setFont(font);
}

// The version the item's metadata gives, read through the cache.
template <class TProvider>
QString MetaVersion(const QString& PublicKey) {
    TProvider provider;
    return TMetaTranslator(provider.GetMeta(PublicKey)).GetVersion();
}

void CenterOnOwner(QWidget* Dialog, QWidget* Owner) {
    if (Owner == nullptr)
        return;
    const QRect area = Owner->frameGeometry();
    Dialog->move(area.center() - QPoint(Dialog->width() / 2, Dialog->height() / 2));
}

} // namespace

void TInstallBottomBar::Build(QWidget* Owner, int Height, const QString& InstallCaption) {
    panelBottom = new QFrame(Owner);
    panelBottom->setObjectName(QStringLiteral("panelBottom"));
    panelBottom->setFrameShape(QFrame::StyledPanel);
    panelBottom->setFixedHeight(Height);
    auto* layout = new QHBoxLayout(panelBottom);
    layout->setContentsMargins(6, 4, 6, 4);
    layout->addStretch(1);
    panelClose = ButtonPanel(panelBottom, QStringLiteral("panelClose"), bClose, QStringLiteral("bClose"),
                             QStringLiteral("Готово"));
    panelCancel = ButtonPanel(panelBottom, QStringLiteral("panelCancel"), bCancel, QStringLiteral("bCancel"),
                              QStringLiteral("Отмена"));
    panelInstall = ButtonPanel(panelBottom, QStringLiteral("panelInstall"), bInstall,
                               QStringLiteral("bInstall"), InstallCaption);
    // From the right: install, cancel, close.
    layout->addWidget(panelClose);
    layout->addWidget(panelCancel);
    layout->addWidget(panelInstall);
    panelCancel->hide();
    panelClose->hide();
    bClose->setDefault(true);
    MakeBold(bClose);
    bInstall->setAutoDefault(true);
    bInstall->setFocus();
}

void TInstallBottomBar::ShowRunning() {
    bInstall->setEnabled(false);
    panelInstall->hide();
    panelCancel->show();
}

void TInstallBottomBar::ShowDone() {
    panelInstall->hide();
    panelCancel->hide();
    panelClose->show();
    bClose->setFocus();
}

QScrollArea* MakeTaskScrollBox(QWidget* Owner, QVBoxLayout*& Rows) {
    auto* scroll = new QScrollArea(Owner);
    scroll->setObjectName(QStringLiteral("ScrollBox"));
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* content = new QWidget(scroll);
    content->setObjectName(QStringLiteral("ScrollBoxContent"));
    Rows = new QVBoxLayout(content);
    Rows->setContentsMargins(8, 8, 8, 0);
    Rows->setSpacing(0);
    Rows->addStretch(1);
    scroll->setWidget(content);
    return scroll;
}

// ---- Install dialog -----------------------------------------------------------------------------------

TfAppInstall::TfAppInstall(QWidget* AOwner, TAppLibraryItem* AApp, TComponentLibraryItem* AComponent)
    : QDialog(AOwner), FAppItem(AApp), FComponentItem(AComponent) {
    setObjectName(QStringLiteral("fAppInstall"));
    setWindowTitle(QStringLiteral("Скачать и установить"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    resize(651, 603);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QVBoxLayout* rows = nullptr;
    ScrollBox = MakeTaskScrollBox(this, rows);
    layout->addWidget(ScrollBox, 1);
    Bar.Build(this, 41, QStringLiteral("Установить"));
    layout->addWidget(Bar.panelBottom);

    for (const auto& task : InstallTasks()) {
        auto* row = new TFrameInstallTask(ScrollBox->widget());
        row->AssignTask(task);
        if (task->TaskType() == ttApp)
            row->SubscribeOnDownloadProgress(FAppItem);
        else if (task->TaskType() == ttComponent)
            row->SubscribeOnDownloadProgress(FComponentItem);
        else
            Bar.bInstall->setIcon(style()->standardIcon(QStyle::SP_VistaShield));
        rows->insertWidget(rows->count() - 1, row);
        Rows.append(row);
    }
    connect(Bar.bInstall, &QPushButton::clicked, this, [this] { bInstallClick(); });
    connect(Bar.bCancel, &QPushButton::clicked, this, [this] { close(); });
    connect(Bar.bClose, &QPushButton::clicked, this, [this] { bCloseClick(); });
    CenterOnOwner(this, AOwner);
}

TfAppInstall::~TfAppInstall() {
    for (const auto& task : InstallTasks()) {
        task->UnsubscribeOnComplete({this, "Finished", nullptr});
        task->UnsubscribeOnError({this, "Finished", nullptr});
    }
}

void TfAppInstall::bInstallClick() {
    Bar.ShowRunning();
    for (const auto& task : InstallTasks()) {
        if (!task->Enabled())
            continue;
        if (task->TaskType() == ttApp) {
            const QString key = FAppItem != nullptr ? FAppItem->PublicKey : task->PublicKey();
            task->SubscribeOnComplete({this, "Finished", [this, key](void*) {
                ReportInstall(key);
                TaskFinished();
            }});
        } else {
            task->SubscribeOnComplete({this, "Finished", [this](void*) { TaskFinished(); }});
        }
        task->SubscribeOnError({this, "Finished", [this](void*) { TaskFinished(); }});
        task->Start();
        ++ActiveTasks;
    }
    // Nothing was switched on: there is nothing to wait for.
    if (ActiveTasks == 0)
        Bar.ShowDone();
}

void TfAppInstall::TaskFinished() {
    --ActiveTasks;
    if (ActiveTasks > 0)
        return;
    ActiveTasks = 0;
    try {
        CompleteInstall();
    } catch (...) {
        // Recording is best effort: the bar still offers "Готово".
    }
    Bar.ShowDone();
}

void TfAppInstall::CompleteInstall() {
    const TInstallTaskList tasks = InstallTasks();
    for (const auto& task : tasks)
        if (!task->Enabled() || task->Status() != tsSuccess)
            return;
    if (FAppItem != nullptr) {
        FAppItem->Version = MetaVersion<TAppMetaProvider>(FAppItem->PublicKey);
        FAppItem->SetState(lisInstalled);
        AppsLibrary().SaveToFile();
        emit Installed(FAppItem);
    }
    if (FComponentItem != nullptr) {
        FComponentItem->Version = MetaVersion<TComponentMetaProvider>(FComponentItem->PublicKey);
        FComponentItem->SetState(lisInstalled);
        ComponentsLibrary().SaveToFile();
    }
}

void TfAppInstall::bCloseClick() {
    ClearInstallTasks();
    close();
}

void TfAppInstall::reject() {
    close();
}

void TfAppInstall::closeEvent(QCloseEvent* Event) {
    if (ActiveTasks > 0) {
        if (!AskConfirmation(QStringLiteral("Отменить установку?"))) {
            Event->ignore();
            return;
        }
        if (ActiveTasks > 0) {
            // Running work is cancelled and discarded; the game stays queued for a later try.
            ClearInstallTasks();
            Event->accept();
            QDialog::done(QDialog::Rejected);
            return;
        }
        // Everything ended while the question was open: close as a finished installation.
    }
    ClearInstallTasks();
    if (FAppItem != nullptr && FAppItem->isQueued()) {
        FAppItem->SetState(lisNone);
        try {
            AppsLibrary().SaveToFile();
        } catch (...) {
            // The state is right in memory; the next save writes it.
        }
    }
    Event->accept();
    QDialog::done(QDialog::Rejected);
}

// ---- Updates dialog -----------------------------------------------------------------------------------

TfUpdates::TfUpdates(QWidget* AOwner) : QDialog(AOwner) {
    setObjectName(QStringLiteral("fUpdates"));
    setWindowTitle(QStringLiteral("Скачать и установить обновления"));
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    resize(651, 470);
    setMinimumSize(651, 470);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    QVBoxLayout* rows = nullptr;
    ScrollBox = MakeTaskScrollBox(this, rows);
    layout->addWidget(ScrollBox, 1);
    Bar.Build(this, 44, QStringLiteral("Обновить"));
    layout->addWidget(Bar.panelBottom);

    for (const auto& task : UpdateTasks()) {
        auto* row = new TFrameInstallTask(ScrollBox->widget());
        row->AllowToDisable = true;
        row->AssignTask(task);
        rows->insertWidget(rows->count() - 1, row);
        Rows.append(row);
    }
    connect(Bar.bInstall, &QPushButton::clicked, this, [this] { bInstallClick(); });
    connect(Bar.bCancel, &QPushButton::clicked, this, [this] { close(); });
    connect(Bar.bClose, &QPushButton::clicked, this, [this] { bCloseClick(); });
    CenterOnOwner(this, AOwner);
}

TfUpdates::~TfUpdates() {
    for (const auto& task : UpdateTasks()) {
        task->UnsubscribeOnComplete({this, "Finished", nullptr});
        task->UnsubscribeOnError({this, "Finished", nullptr});
    }
}

void TfUpdates::bInstallClick() {
    for (const auto& task : UpdateTasks()) {
        if (!task->Enabled())
            continue;
        task->SubscribeOnComplete({this, "Finished", [this](void*) { TaskFinished(); }});
        task->SubscribeOnError({this, "Finished", [this](void*) { TaskFinished(); }});
        task->Start();
        ++ActiveTasks;
    }
    if (ActiveTasks > 0)
        Bar.ShowRunning();
}

void TfUpdates::TaskFinished() {
    --ActiveTasks;
    if (ActiveTasks > 0)
        return;
    ActiveTasks = 0;
    ApplyUpdates();
    Bar.ShowDone();
}

void TfUpdates::ApplyUpdates() {
    // Each success is recorded on its own; one that cannot be recorded does not stop the others.
    for (const auto& task : UpdateTasks()) {
        if (!task->Enabled() || task->Status() != tsSuccess)
            continue;
        try {
            if (task->TaskType() == ttApp) {
                if (auto* item = AppsLibrary().FindItemByKey(task->PublicKey())) {
                    item->Version = MetaVersion<TAppMetaProvider>(task->PublicKey());
                    AppsLibrary().SaveToFile();
                }
            } else if (task->TaskType() == ttComponent) {
                if (auto* item = ComponentsLibrary().FindItemByKey(task->PublicKey())) {
                    item->Version = MetaVersion<TComponentMetaProvider>(task->PublicKey());
                    ComponentsLibrary().SaveToFile();
                }
            }
        } catch (...) {
        }
    }
}

void TfUpdates::bCloseClick() {
    ClearUpdateTasks();
    close();
}

void TfUpdates::reject() {
    close();
}

void TfUpdates::closeEvent(QCloseEvent* Event) {
    if (ActiveTasks > 0) {
        if (!AskConfirmation(QStringLiteral("Отменить обновления?")) || ActiveTasks == 0) {
            // Declined, or everything ended meanwhile: the bar now offers "Готово".
            Event->ignore();
            return;
        }
    }
    ClearUpdateTasks();
    Event->accept();
    QDialog::done(QDialog::Rejected);
}
