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

// ---- Shared ---------------------------------------------------------------------------------------------

TTaskListDialog::TTaskListDialog(QWidget* AOwner, const QString& Name, const QString& Caption,
                                 const QSize& Size, int BarHeight, const QString& InstallCaption)
    : QDialog(AOwner) {
    setObjectName(Name);
    setWindowTitle(Caption);
    setAttribute(Qt::WA_DeleteOnClose);
    setModal(false);
    resize(Size);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    ScrollBox = MakeTaskScrollBox(this, FRows);
    layout->addWidget(ScrollBox, 1);
    Bar.Build(this, BarHeight, InstallCaption);
    layout->addWidget(Bar.panelBottom);
    connect(Bar.bInstall, &QPushButton::clicked, this, [this] { bInstallClick(); });
    connect(Bar.bCancel, &QPushButton::clicked, this, [this] { close(); });
    connect(Bar.bClose, &QPushButton::clicked, this, [this] { bCloseClick(); });
    CenterOnOwner(this, AOwner);
}

TTaskListDialog::~TTaskListDialog() {
    for (const auto& task : FStarted) {
        task->UnsubscribeOnComplete({this, "Finished", nullptr});
        task->UnsubscribeOnError({this, "Finished", nullptr});
    }
}

TFrameInstallTask* TTaskListDialog::AddRow(const std::shared_ptr<TInstallTask>& Task, bool AllowToDisable) {
    auto* row = new TFrameInstallTask(ScrollBox->widget());
    row->AllowToDisable = AllowToDisable;
    row->AssignTask(Task);
    FRows->insertWidget(FRows->count() - 1, row);
    Rows.append(row);
    return row;
}

void TTaskListDialog::StartTask(const std::shared_ptr<TInstallTask>& Task, std::function<void()> OnComplete) {
    Task->SubscribeOnComplete({this, "Finished", [this, OnComplete](void*) {
        if (OnComplete)
            OnComplete();
        TaskFinished();
    }});
    Task->SubscribeOnError({this, "Finished", [this](void*) { TaskFinished(); }});
    FStarted.append(Task);
    Task->Start();
    ++ActiveTasks;
}

void TTaskListDialog::TaskFinished() {
    if (--ActiveTasks > 0)
        return;
    ActiveTasks = 0;
    try {
        Finish();
    } catch (...) {
        // Recording is best effort: the bar still offers "Готово".
    }
    Bar.ShowDone();
}

void TTaskListDialog::reject() {
    close();
}

// ---- Install dialog -----------------------------------------------------------------------------------

TfAppInstall::TfAppInstall(QWidget* AOwner, TAppLibraryItem* AApp, TComponentLibraryItem* AComponent)
    : TTaskListDialog(AOwner, QStringLiteral("fAppInstall"), QStringLiteral("Скачать и установить"),
                      QSize(651, 603), 41, QStringLiteral("Установить")),
      FAppItem(AApp), FComponentItem(AComponent) {
    for (const auto& task : InstallTasks()) {
        TFrameInstallTask* row = AddRow(task, false);
        if (task->TaskType() == ttApp)
            row->SubscribeOnDownloadProgress(FAppItem);
        else if (task->TaskType() == ttComponent)
            row->SubscribeOnDownloadProgress(FComponentItem);
        else
            Bar.bInstall->setIcon(style()->standardIcon(QStyle::SP_VistaShield));
    }
}

void TfAppInstall::bInstallClick() {
    Bar.ShowRunning();
    for (const auto& task : InstallTasks()) {
        if (!task->Enabled())
            continue;
        if (task->TaskType() == ttApp) {
            const QString key = FAppItem != nullptr ? FAppItem->PublicKey : task->PublicKey();
            StartTask(task, [key] { ReportInstall(key); });
        } else {
            StartTask(task);
        }
    }
    // Nothing was switched on: there is nothing to wait for.
    if (ActiveTasks == 0)
        Bar.ShowDone();
}

void TfAppInstall::Finish() {
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

TfUpdates::TfUpdates(QWidget* AOwner)
    : TTaskListDialog(AOwner, QStringLiteral("fUpdates"), QStringLiteral("Скачать и установить обновления"),
                      QSize(651, 470), 44, QStringLiteral("Обновить")) {
    setMinimumSize(651, 470);
    for (const auto& task : UpdateTasks())
        AddRow(task, true);
}

void TfUpdates::bInstallClick() {
    for (const auto& task : UpdateTasks())
        if (task->Enabled())
            StartTask(task);
    if (ActiveTasks > 0)
        Bar.ShowRunning();
}

void TfUpdates::Finish() {
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
