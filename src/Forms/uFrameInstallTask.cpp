#include "Forms/uFrameInstallTask.h"

#include "Service/AppsLibrary.h"
#include "Service/Install/Tasks.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>
#include <QVBoxLayout>

TFrameInstallTask::TFrameInstallTask(QWidget* AOwner)
    : QFrame(AOwner) {
    setObjectName(QStringLiteral("FrameInstallTask"));
    setMinimumWidth(451);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 30);
    layout->setSpacing(4);

    panelHeader = new QFrame(this);
    panelHeader->setObjectName(QStringLiteral("panelHeader"));
    panelHeader->setFixedHeight(41);
    auto* header = new QHBoxLayout(panelHeader);
    header->setContentsMargins(0, 0, 0, 0);
    panelName = new QLabel(panelHeader);
    panelName->setObjectName(QStringLiteral("panelName"));
    panelName->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont nameFont = panelName->font();
    nameFont.setBold(true);
    panelName->setFont(nameFont);
    header->addWidget(panelName, 1);

    panelProgress = new QFrame(panelHeader);
    panelProgress->setObjectName(QStringLiteral("panelProgress"));
    panelProgress->setFixedWidth(65);
    auto* progressLayout = new QHBoxLayout(panelProgress);
    progressLayout->setContentsMargins(0, 0, 0, 0);
    ActivityIndicator = new QProgressBar(panelProgress);
    ActivityIndicator->setObjectName(QStringLiteral("ActivityIndicator"));
    ActivityIndicator->setTextVisible(false);
    ActivityIndicator->setFixedSize(48, 8);
    ActivityIndicator->setRange(0, 1);
    progressLayout->addWidget(ActivityIndicator);
    panelProgress->hide();
    header->addWidget(panelProgress);

    panelControls = new QFrame(panelHeader);
    panelControls->setObjectName(QStringLiteral("panelControls"));
    panelControls->setFixedWidth(87);
    auto* controlsLayout = new QHBoxLayout(panelControls);
    controlsLayout->setContentsMargins(0, 0, 0, 0);
    checkEnabled = new QCheckBox(panelControls);
    checkEnabled->setObjectName(QStringLiteral("checkEnabled"));
    checkEnabled->setChecked(true);
    checkEnabled->setToolTip(QStringLiteral("Устанавливать"));
    controlsLayout->addWidget(checkEnabled, 0, Qt::AlignRight);
    panelControls->hide();
    header->addWidget(panelControls);
    layout->addWidget(panelHeader);

    txtDesc = new QLabel(this);
    txtDesc->setObjectName(QStringLiteral("txtDesc"));
    txtDesc->setWordWrap(true);
    txtDesc->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    layout->addWidget(txtDesc, 1);

    Progress = new QProgressBar(this);
    Progress->setObjectName(QStringLiteral("Progress"));
    Progress->setFixedHeight(17);
    Progress->setTextVisible(false);
    Progress->hide();
    layout->addWidget(Progress);

    connect(checkEnabled, &QCheckBox::toggled, this, [this] { checkEnabledClick(); });
}

TFrameInstallTask::~TFrameInstallTask() {
    if (FTask) {
        FTask->UnsubscribeOnStart({this, "Start", nullptr});
        FTask->UnsubscribeOnComplete({this, "Complete", nullptr});
        FTask->UnsubscribeOnError({this, "Error", nullptr});
    }
    if (FLibItem != nullptr) {
        try {
            FLibItem->UnsubscribeOnDownloadProgress({this, "Progress", nullptr});
        } catch (...) {
        }
    }
}

void TFrameInstallTask::AssignTask(const std::shared_ptr<TInstallTask>& Task) {
    FTask = Task;
    FTask->SubscribeOnStart({this, "Start", [this](void*) { OnTaskStart(); }});
    FTask->SubscribeOnComplete({this, "Complete", [this](void*) { OnTaskComplete(); }});
    FTask->SubscribeOnError({this, "Error", [this](void* Sender) { OnTaskError(Sender); }});
    panelControls->setVisible(FTask->TaskType() == ttDep || AllowToDisable);
    checkEnabled->setChecked(FTask->Enabled());
    panelName->setText(FTask->Name());
    txtDesc->setText(FTask->Description());
    txtDesc->setVisible(!FTask->Description().isEmpty());
}

void TFrameInstallTask::SubscribeOnDownloadProgress(TGenericLibraryItem* LibItem) {
    if (LibItem == nullptr)
        return;
    FLibItem = LibItem;
    // The synchroniser hands progress to the item on the main thread, already coalesced.
    LibItem->SubscribeOnDownloadProgress({this, "Progress", [this](void*) { ShowProgress(); }});
}

void TFrameInstallTask::ShowProgress() {
    if (FLibItem == nullptr)
        return;
    Progress->setMaximum(qMax(0, FLibItem->TotalDownloadSize()));
    Progress->setValue(qBound(0, FLibItem->CurrentDownloadSize(), Progress->maximum()));
}

void TFrameInstallTask::checkEnabledClick() {
    if (FTask)
        FTask->SetEnabled(checkEnabled->isChecked());
}

void TFrameInstallTask::SetErrorLook(bool Error) {
    Progress->setProperty("error", Error);
    Progress->style()->unpolish(Progress);
    Progress->style()->polish(Progress);
}

// A stopped indicator is not drawn at all; an empty bar would look like a stuck one.
void TFrameInstallTask::StopIndicator() {
    ActivityIndicator->setRange(0, 1);
    ActivityIndicator->setValue(0);
    ActivityIndicator->hide();
}

void TFrameInstallTask::OnTaskStart() {
    Progress->show();
    panelControls->hide();
    panelProgress->show();
    ActivityIndicator->setRange(0, 0); // busy animation
    ActivityIndicator->show();
    SetErrorLook(false);
}

void TFrameInstallTask::OnTaskComplete() {
    QFont nameFont = panelName->font();
    nameFont.setBold(false);
    nameFont.setStrikeOut(true);
    panelName->setFont(nameFont);
    if (Progress->maximum() <= 0)
        Progress->setMaximum(1);
    Progress->setValue(Progress->maximum());
    StopIndicator();
}

void TFrameInstallTask::OnTaskError(void* Sender) {
    SetErrorLook(true);
    StopIndicator();
    if (Sender != nullptr) {
        const auto* task = static_cast<TInstallTask*>(Sender);
        txtDesc->setText(task->ErrorMessage());
        txtDesc->show();
        Progress->hide();
    }
}
