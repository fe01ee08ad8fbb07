// The desktop's open service as the program uses it: folders and files go out as file URLs,
// only web, mail and file URLs go out as they stand, and the manual is found beside the program.
#include "platform/shell/Shell.h"

#include "support/gui/ShellRecorder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSet>
#include <gtest/gtest.h>

TEST(Shell, UrlsGoOutAsTheyStand)
{
    EXPECT_EQ(ShellUrlFor(HomePageURL), QUrl(QStringLiteral("https://tarvik.example.org/")));
    EXPECT_EQ(ShellUrlFor(QStringLiteral("mailto:") + SupportEMail).scheme(),
              QStringLiteral("mailto"));
    EXPECT_EQ(ShellUrlFor(QStringLiteral("file:///tmp/x")), QUrl(QStringLiteral("file:///tmp/x")));
}

TEST(Shell, PathsGoOutAsAbsoluteFileUrls)
{
    const QUrl folder = ShellUrlFor(QStringLiteral("/home/user/Music/"));
    EXPECT_TRUE(folder.isLocalFile());
    EXPECT_EQ(folder.toLocalFile(), QStringLiteral("/home/user/Music"));

    const QUrl relative = ShellUrlFor(QStringLiteral("Music/Album"));
    EXPECT_TRUE(relative.isLocalFile());
    EXPECT_EQ(relative.toLocalFile(),
              QDir::current().absoluteFilePath(QStringLiteral("Music/Album")));

    // A folder whose name looks like a URL of another scheme is still a folder: nothing but a
    // file manager ever sees it.
    for (const QString& odd : {QStringLiteral("javascript:alert(1)"), QStringLiteral("smb:share"),
                               QStringLiteral("C:\\My Music"), QStringLiteral("a#b?c")}) {
        const QUrl url = ShellUrlFor(odd);
        EXPECT_TRUE(url.isLocalFile()) << qPrintable(odd);
        EXPECT_TRUE(url.toLocalFile().endsWith(odd)) << qPrintable(url.toLocalFile());
    }
    EXPECT_TRUE(ShellUrlFor(QString()).isEmpty());
    EXPECT_TRUE(ShellUrlFor(QStringLiteral("   ")).isEmpty());
}

TEST(Shell, OpenGoesThroughTheInstalledShell)
{
    TShellRecorder shell;
    EXPECT_TRUE(ShellOpen(QStringLiteral("/tmp")));
    EXPECT_FALSE(ShellOpen(QString())); // nothing to open: the desktop is not asked
    shell.Answer = false;
    EXPECT_FALSE(ShellOpen(HomePageURL));
    ASSERT_EQ(shell.Opened().size(), 2);
    EXPECT_EQ(shell.Opened()[0], QUrl::fromLocalFile(QStringLiteral("/tmp")));
    EXPECT_EQ(shell.Opened()[1], QUrl(HomePageURL));
}

TEST(Shell, TheManualShipsBesideTheProgramWithEveryLinkInPlace)
{
    const QString help = HelpFilePath();
    ASSERT_FALSE(help.isEmpty());
    QFile file(help);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QString html = QString::fromUtf8(file.readAll());
    const QDir folder = QFileInfo(help).dir();

    QSet<QString> ids;
    for (const auto& m : QRegularExpression(QStringLiteral("id=\"([^\"]+)\"")).globalMatch(html))
        ids.insert(m.captured(1));
    int links = 0;
    for (const auto& m :
         QRegularExpression(QStringLiteral("(?:href|src)=\"([^\"]+)\"")).globalMatch(html)) {
        const QString target = m.captured(1);
        ++links;
        if (target.startsWith(QLatin1Char('#')))
            EXPECT_TRUE(ids.contains(target.mid(1))) << qPrintable(target);
        else if (!target.contains(QLatin1Char(':')))
            EXPECT_TRUE(QFile::exists(folder.filePath(target))) << qPrintable(target);
        else
            EXPECT_TRUE(target == HomePageURL || target == QStringLiteral("mailto:") + SupportEMail)
                << qPrintable(target); // the manual works offline: no other outside links
    }
    EXPECT_GT(links, 10);
    EXPECT_TRUE(html.contains(SupportEMail));
}
