#include "Forms/uAbout.h"
#include "Platform/VersionInfo.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QWidget>

TEST(AboutForm, ShowsTitleVersionAndCreditsAndClosesWithEsc) {
    QWidget owner;
    TAboutForm* about = ShowAbout(&owner);
    ASSERT_TRUE(about);
    EXPECT_EQ(ShowAbout(&owner), about); // made once and kept
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    EXPECT_EQ(about->size(), QSize(609, 355));

    const auto& v = OwnVersionNumbers().Product;
    const QString version = QStringLiteral("%1.%2.%3.%4").arg(v[0]).arg(v[1]).arg(v[2]).arg(v[3]);
    EXPECT_EQ(about->txtName->text(), QStringLiteral("Tarveno!"));
    EXPECT_EQ(about->txtVersion->text(), version);
    EXPECT_EQ(about->windowTitle(), QStringLiteral("Tarveno! v") + version);
    EXPECT_TRUE(about->txtName->font().bold());
    EXPECT_EQ(about->txtName->font().pointSize(), 36);
    for (const char* credit : {"Powered by open-source software", "Qt", "libcurl", "SQLite"})
        EXPECT_TRUE(about->txtOSS->text().contains(QLatin1String(credit))) << credit;

    // The right-aligned title box ends where the version begins, centring the title.
    EXPECT_EQ(about->txtName->x(), 0);
    EXPECT_EQ(about->txtName->width(), about->NameWidth + (about->width() - about->NameWidth) / 2);
    EXPECT_EQ(about->txtVersion->x(), about->txtName->width());
    EXPECT_EQ(about->txtVersion->y(), about->NameHeight / 4);
    EXPECT_EQ(about->txtOSS->y(), 50 + about->NameHeight);

    QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QApplication::sendEvent(about, &esc);
    EXPECT_FALSE(about->isVisible());
    EXPECT_EQ(ShowAbout(&owner), about);
    EXPECT_TRUE(about->isVisible());
}
