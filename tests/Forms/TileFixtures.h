#pragma once

// Games on disk and in the apps library for the tile and list tests.

#include "App/Paths.h"
#include "App/Settings.h"
#include "Forms/uFrameApp.h"
#include "Service/AppsLibrary.h"
#include "Service/ImageProviders.h"
#include "TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QThreadPool>

namespace tiles {

// Lets the tiles' background work end; it may hand work to the main thread, so events keep flowing.
inline void WaitForTileWork() {
    WaitFor([] { return TileWorkPool().activeThreadCount() == 0; });
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
}

// A fresh, empty apps library in a fresh games folder, and a picture provider.
inline void ResetLibrary() {
    WaitForTileWork();
    DoneLibraries();
    Lib::SetPath(MakeTempDir(QStringLiteral("games")));
    InitLibraries();
    InitImageProvider();
}

// The game's configuration file in its folder under the games folder; returns the folder.
inline QString WriteGame(const QString& Key, const QByteArray& Ini) {
    const QString dir = Lib::GetAppDir(Key);
    QDir().mkpath(dir);
    WriteFile(dir + Key + QStringLiteral(".ini"), Ini);
    return dir;
}

// A game in the apps library, in the given state; installed games read their configuration.
inline TAppLibraryItem* AddGame(const QString& Key, TLibraryItemState State, const QByteArray& Ini = "[Launcher]\nCmd=run.sh\n") {
    auto item = std::make_unique<TAppLibraryItem>();
    item->PublicKey = Key;
    item->Name = QStringLiteral("Игра ") + Key;
    if (State == lisInstalled)
        item->Path = WriteGame(Key, Ini);
    item->SetState(State);
    TAppsLibrary& library = AppsLibrary();
    return library.Items(library.Add(std::move(item)));
}

// A small picture file to serve as a cover.
inline QString WriteCover(const QString& Name, const QSize& Size = {200, 300}) {
    QImage image(Size, QImage::Format_RGB32);
    image.fill(QColor(40, 90, 160));
    const QString file = MakeTempDir(QStringLiteral("covers")) + Name + QStringLiteral(".png");
    image.save(file);
    return file;
}

} // namespace tiles
