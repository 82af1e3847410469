#include "Forms/uLibManagerForm.h"

#include "App/MainThread.h"
#include "App/Settings.h"
#include "Forms/Debug.h"
#include "Forms/MsgBoxes.h"
#include "Platform/DirMove.h"
#include "Service/AppsLibrary.h"
#include "Service/Install/Tasks.h"

#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>

namespace {

const QString InstallRunningText = QStringLiteral(
    "В данный момент выполняются фоновые задачи установки игр или компонентов.\n\r\r"
    "Пожалуйста, дождитесь их завершения и попробуйте снова.");
const QString UpdateRunningText = QStringLiteral(
    "В данный момент выполняются фоновые задачи обновления игр или компонентов.\n\r\r"
    "Пожалуйста, дождитесь их завершения и попробуйте снова.");
const QString ConfirmMoveText = QStringLiteral("Вы действительно желаете переместить все файлы игр?");
const QString IncompleteMoveText = QStringLiteral(
    "Возможно, перенос файлов выполнен не полностью.\n\r\r"
    "Оставить прежнюю папку для установки игр?\n\r"
    "(Потребуется вернуть перенесённые файлы в прежнюю папку вручную)");

QString WithSlash(QString path) {
    if (!path.endsWith(u'/'))
        path += u'/';
    return path;
}

// Runs the move on a thread of its own while a progress window shows how far it got. The first name
// conflict asks whether to replace; the answer holds for the rest of the move.
TDirMove::TResult MoveWithProgress(QWidget* Owner, const QString& Source, const QString& Target) {
    auto move = std::make_shared<TDirMove>();
    QProgressDialog progress(QStringLiteral("Перемещение файлов игр..."), QStringLiteral("Отмена"), 0, 1000, Owner);
    progress.setObjectName(QStringLiteral("MoveProgress"));
    progress.setWindowTitle(QStringLiteral("Управление папками"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    progress.setMinimumDuration(0);
    progress.setMinimumWidth(420);
    QObject::connect(&progress, &QProgressDialog::canceled, [move] { move->Cancel(); });
    progress.show();

    QPointer<QProgressDialog> shown(&progress);
    auto lastReport = std::make_shared<QElapsedTimer>();
    lastReport->start();
    move->OnProgress = [shown, lastReport](qint64 Done, qint64 Total) {
        // The bar is told a few times a second, not for every block.
        if (lastReport->elapsed() < 50 && Done < Total)
            return;
        lastReport->restart();
        const int value = Total > 0 ? int(Done * 1000 / Total) : 1000;
        QueueOnMainThread([shown, value] {
            if (shown)
                shown->setValue(value);
        });
    };
    std::optional<TDirMove::TConflictAnswer> answer;
    move->OnConflict = [&answer, shown](const QString&, const QString& Target) {
        if (!answer) {
            RunOnMainThread([&] {
                const bool replace = AskConfirmation(
                    QStringLiteral("В новой папке уже есть «%1».\r\rЗаменить его и остальные совпадающие файлы?")
                        .arg(QDir::toNativeSeparators(Target)));
                answer = replace ? TDirMove::TConflictAnswer::Replace : TDirMove::TConflictAnswer::Skip;
            });
        }
        return *answer;
    };

    TDirMove::TResult result;
    QEventLoop loop;
    QThread* worker = QThread::create([&] { result = move->Run(Source, Target); });
    QObject::connect(worker, &QThread::finished, &loop, &QEventLoop::quit);
    worker->start();
    loop.exec();
    worker->wait();
    delete worker;
    // Reports still queued must not reach the window that is going away.
    QCoreApplication::sendPostedEvents();
    return result;
}

} // namespace

TLibManagerForm::TLibManagerForm(QWidget* AOwner) : QDialog(AOwner) {
    setObjectName(QStringLiteral("LibManagerForm"));
    setWindowTitle(QStringLiteral("Управление папками"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    txtPath = new QLabel(QStringLiteral("Папка для установки игр"), this);
    txtPath->setObjectName(QStringLiteral("txtPath"));
    ePath = new QLineEdit(this);
    ePath->setObjectName(QStringLiteral("ePath"));
    ePath->setMinimumWidth(420);
    bBrowse = new QPushButton(QStringLiteral("Обзор..."), this);
    bBrowse->setObjectName(QStringLiteral("bBrowse"));
    bBrowse->setAutoDefault(false);
    bRestoreDefault = new QPushButton(QStringLiteral("Восстановить папку по умолчанию"), this);
    bRestoreDefault->setObjectName(QStringLiteral("bRestoreDefault"));
    bRestoreDefault->setAutoDefault(false);
    bCancel = new QPushButton(QStringLiteral("Отмена"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    bCancel->setAutoDefault(false);
    bApply = new QPushButton(QStringLiteral("Применить"), this);
    bApply->setObjectName(QStringLiteral("bApply"));
    bApply->setDefault(true);
    for (QPushButton* b : {bCancel, bApply})
        b->setMinimumWidth(100);

    auto* pathRow = new QHBoxLayout;
    pathRow->addWidget(ePath, 1);
    pathRow->addWidget(bBrowse);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(bRestoreDefault);
    buttons->addStretch();
    buttons->addWidget(bApply);
    buttons->addWidget(bCancel);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    layout->setSpacing(8);
    layout->addWidget(txtPath);
    layout->addLayout(pathRow);
    layout->addSpacing(8);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(ePath, &QLineEdit::textChanged, this, [this] { ePathChange(); });
    connect(bRestoreDefault, &QPushButton::clicked, this, UserAction(bRestoreDefault, [this] { bRestoreDefaultClick(); }));
    connect(bApply, &QPushButton::clicked, this, UserAction(bApply, [this] { bApplyClick(); }));
    connect(bCancel, &QPushButton::clicked, this, &TLibManagerForm::reject);
    // A folder picker beside the text field.
    connect(bBrowse, &QPushButton::clicked, this, [this] {
        const QString dir = QFileDialog::getExistingDirectory(this, txtPath->text(), ePath->text());
        if (!dir.isEmpty())
            ePath->setText(WithSlash(dir));
    });
    FormCreate();
}

void TLibManagerForm::FormCreate() {
    ePath->setText(Lib::GetPath());
    ePathChange();
}

QString TLibManagerForm::NewPath() const { return WithSlash(ePath->text()); }

void TLibManagerForm::ePathChange() {
    // File names on Linux differ by letter case.
    bRestoreDefault->setEnabled(!FLockedControls && NewPath() != WithSlash(Lib::DefaultLibraryPath));
    // A relative or empty folder would land wherever the launcher happens to run.
    bApply->setEnabled(!FLockedControls && QDir::isAbsolutePath(ePath->text().trimmed()));
}

void TLibManagerForm::bRestoreDefaultClick() {
    ePath->setText(Lib::DefaultLibraryPath);
    bRestoreDefault->setEnabled(false);
}

void TLibManagerForm::LockControls(bool Value) {
    FLockedControls = Value;
    for (QWidget* w : {static_cast<QWidget*>(ePath), static_cast<QWidget*>(bBrowse), static_cast<QWidget*>(bCancel),
                       static_cast<QWidget*>(bApply)})
        w->setEnabled(!Value);
    if (Value)
        bRestoreDefault->setEnabled(false);
    else
        ePathChange();
}

void TLibManagerForm::bApplyClick() {
    if (RunningInstallTaskCount() > 0) {
        ShowInfo(InstallRunningText);
        return;
    }
    if (RunningUpdateTaskCount() > 0) {
        ShowInfo(UpdateRunningText);
        return;
    }
    if (!AskConfirmation(ConfirmMoveText))
        return;
    LockControls(true);
    struct TUnlock {
        TLibManagerForm* Form;
        ~TUnlock() { Form->LockControls(false); }
    } unlock{this};
    MoveDir();
}

void TLibManagerForm::MoveDir() {
    const QString newPath = NewPath();
    const QString oldPath = Lib::GetPath();
    if (QDir::cleanPath(newPath) == QDir::cleanPath(oldPath)) {
        // Nothing to move and nothing to restart for.
        FLockedControls = false;
        done(QDialog::Rejected);
        return;
    }
    const TDirMove::TResult result = MoveWithProgress(this, oldPath, newPath);
    if (!result.Complete && AskWarningConfirmation(IncompleteMoveText))
        return;

    Lib::SetPath(newPath);
    Lib::SaveSettings();
    RunOnMainThread([&] {
        TAppsLibrary& library = AppsLibrary();
        for (TAppLibraryItem* item : library.FindAll()) {
            item->Path = Lib::GetAppDir(item->PublicKey);
            if (item->isIntalled() && !QFileInfo(item->Path).isDir())
                item->SetState(lisQueued);
        }
        library.SaveToFile(newPath + QStringLiteral("apps.json"));
    });
    FLockedControls = false;
    done(QDialog::Accepted);
}

void TLibManagerForm::reject() {
    if (FormCloseQuery())
        QDialog::reject();
}

void TLibManagerForm::closeEvent(QCloseEvent* event) {
    if (!FormCloseQuery()) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void ShowLibManagerWindow(QWidget* Owner, const std::function<void()>& RestartSelf) {
    TLibManagerForm form(Owner);
    if (form.exec() == QDialog::Accepted && RestartSelf)
        RestartSelf();
}
