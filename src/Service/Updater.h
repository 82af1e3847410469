#pragma once

// The launcher's own update: the version document on the CDN is compared with the running program's
// version; a newer program is downloaded beside the running one and the two are swapped by renaming,
// because a running program file can be renamed but not overwritten. The old file is removed at a later
// start.

#include "Lib/Json.h"

#include <QString>

#include <functional>

class TUpdateService {
public:
    // True when a newer version was found and UpdateCore ran.
    bool Update(const QString& CurrentFileName);
    // Downloads the new program to CurrentFileName + ".new" and swaps it in, keeping the old one as
    // CurrentFileName + ".delete". A download that is not a program is refused and removed; a failed swap
    // puts the old file back. Download errors reach the caller; failed renames do not.
    void UpdateCore(const QString& CurrentFileName);
    // Removes CurrentFileName + ".delete" when it exists; failures are ignored.
    static void PurgeTmpFiles(const QString& CurrentFileName);

    // The running program's real file name (links resolved), for Update and PurgeTmpFiles.
    static QString RunningExecutable();

    TJsonValue KivJson; // the version document of the last check

    // Renames a file, true on success; tests replace it to make one of the swap's renames fail.
    using TRenameFunction = std::function<bool(const QString& From, const QString& To)>;
    static TRenameFunction RenameFile;
};
