#include "Forms/uLauchOptions.h"

#include "Service/AppLauncher/LaunchOptionsPrompt.h"

#include <QButtonGroup>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

TfLaunchOptions::TfLaunchOptions(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Варианты запуска"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(397, 310);

    grpCommands = new QGroupBox(this);
    grpCommands->setObjectName(QStringLiteral("grpCommands"));
    FItemsLayout = new QVBoxLayout(grpCommands);
    FItemsLayout->addStretch();
    FItems = new QButtonGroup(this);

    panelFooter = new QWidget(this);
    panelFooter->setObjectName(QStringLiteral("panelFooter"));
    panelFooter->setFixedHeight(41);
    bLauch = new QPushButton(QStringLiteral("Запустить"), panelFooter);
    bLauch->setObjectName(QStringLiteral("bLauch"));
    bLauch->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("Отмена"), panelFooter);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    auto* footer = new QHBoxLayout(panelFooter);
    footer->setContentsMargins(8, 0, 8, 0);
    footer->addStretch();
    footer->addWidget(bLauch);
    footer->addWidget(bCancel);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 8, 8, 0);
    layout->setSpacing(0);
    layout->addWidget(grpCommands, 1);
    layout->addWidget(panelFooter);

    // Esc already rejects a QDialog.
    connect(bLauch, &QPushButton::clicked, this, &QDialog::accept);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int TfLaunchOptions::CreateCommandsFromOptions(const QStringList& Options) {
    for (const QString& option : Options) {
        const TLaunchOption split = SplitLaunchOption(option);
        auto* item = new QRadioButton(split.Caption, grpCommands);
        FItems->addButton(item, int(Commands.size()));
        // Keep the stretch last so the items stay at the top.
        FItemsLayout->insertWidget(FItemsLayout->count() - 1, item);
        Commands.append(split.Command);
    }
    if (!Commands.isEmpty())
        FItems->button(0)->setChecked(true);
    return int(Commands.size());
}

QString TfLaunchOptions::GetSelectedCommand() const {
    const int index = FItems->checkedId();
    return index >= 0 && index < Commands.size() ? Commands.at(index) : QString();
}

namespace {

class TLaunchOptionsDialogPrompt : public ILaunchOptionsPrompt {
public:
    bool SelectCommand(const QStringList& Options, QString& Command) override {
        TfLaunchOptions dialog;
        dialog.CreateCommandsFromOptions(Options);
        if (dialog.exec() != QDialog::Accepted)
            return false;
        Command = dialog.GetSelectedCommand();
        return true;
    }
};

} // namespace

void RegisterLaunchOptionsDialog() { RegisterLaunchOptionsPrompt(std::make_unique<TLaunchOptionsDialogPrompt>()); }
