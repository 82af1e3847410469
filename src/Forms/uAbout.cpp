#include "Forms/uAbout.h"

#include "App/Paths.h"
#include "Platform/VersionInfo.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>

namespace {

const QString AppTitle = QStringLiteral("Tarveno!");
constexpr int ClientWidth = 609;
constexpr int ClientHeight = 355;
constexpr int Margin = 50;
constexpr int BottomMargin = 100;

QString ProductVersion() {
    TFileVersionInfo info;
    GetFileVersionInfo(QCoreApplication::applicationFilePath(), info);
    if (!info.ProductVersion.isEmpty())
        return info.ProductVersion;
    // A program file without its record (a test runner, say) still belongs to this build.
    const auto& v = OwnVersionNumbers().Product;
    return QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
}

QPointer<TAboutForm> gAboutForm;

} // namespace

TAboutForm::TAboutForm(QWidget* Owner) : QDialog(Owner) {
    setObjectName(QStringLiteral("AboutForm"));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);
    setFixedSize(ClientWidth, ClientHeight);

    txtName = new QLabel(this);
    txtName->setObjectName(QStringLiteral("txtName"));
    txtName->setAlignment(Qt::AlignRight | Qt::AlignTop);
    txtVersion = new QLabel(this);
    txtVersion->setObjectName(QStringLiteral("txtVersion"));
    txtOSS = new QLabel(this);
    txtOSS->setObjectName(QStringLiteral("txtOSS"));
    txtOSS->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    txtOSS->setWordWrap(true);
    txtOSS->setTextInteractionFlags(Qt::TextSelectableByMouse);
    txtBottom = new QLabel(
        QStringLiteral("© Mirelocke. Игры принадлежат их правообладателям."), this);
    txtBottom->setObjectName(QStringLiteral("txtBottom"));
    txtBottom->setAlignment(Qt::AlignCenter);

    FormCreate();
    FormResize();
}

void TAboutForm::FormCreate() {
    txtName->setText(AppTitle);
    QFont font = txtName->font();
    font.setPointSize(36);
    font.setBold(true);
    txtName->setFont(font);
    // Set on the label itself, so the application's style sheet does not shrink the title again.
    txtName->setStyleSheet(QStringLiteral("font-size: 36pt; font-weight: bold;"));

    txtOSS->setText(QStringLiteral("Powered by open-source software") +
                    QStringLiteral("\n\nQt 6 — окна, встроенный браузер и цикл событий (qt.io, LGPL v3)") +
                    QStringLiteral("\n\nlibcurl — HTTP-запросы (curl.se, curl license); "
                                   "SQLite — база данных тестового сервиса (sqlite.org, public domain)"));

    const QString version = ProductVersion();
    txtVersion->setText(version);
    setWindowTitle(AppTitle + QStringLiteral(" v") + version);

    txtName->ensurePolished();
    const QFontMetrics metrics(txtName->font());
    NameWidth = metrics.horizontalAdvance(AppTitle);
    NameHeight = metrics.height();
    txtName->setFixedHeight(NameHeight);
    txtVersion->adjustSize();
    txtVersion->move(txtVersion->x(), NameHeight / 4);
    txtBottom->adjustSize();
}

void TAboutForm::FormResize() {
    const int w = width();
    const int nameBoxWidth = NameWidth + (w - NameWidth) / 2;
    txtName->setGeometry(0, 0, nameBoxWidth, NameHeight);
    txtVersion->move(nameBoxWidth, NameHeight / 4);
    // Margins 50 on three sides and 100 at the bottom; the top one grows by the title's height.
    const int top = Margin + NameHeight;
    txtOSS->setGeometry(Margin, top, w - 2 * Margin, height() - top - BottomMargin);
    const int bottomHeight = txtBottom->sizeHint().height();
    txtBottom->setGeometry(0, height() - bottomHeight - 16, w, bottomHeight);
}

void TAboutForm::resizeEvent(QResizeEvent* Event) {
    QDialog::resizeEvent(Event);
    FormResize();
}

void TAboutForm::keyPressEvent(QKeyEvent* Event) {
    if (Event->key() == Qt::Key_Escape) {
        close();
        return;
    }
    QDialog::keyPressEvent(Event);
}

TAboutForm* ShowAbout(QWidget* Owner) {
    if (!gAboutForm)
        gAboutForm = new TAboutForm(Owner);
    gAboutForm->show();
    gAboutForm->raise();
    gAboutForm->activateWindow();
    return gAboutForm;
}
