#pragma once

#include <QByteArray>
#include <QString>

// Replaces a file's whole content so that a reader sees either the old file or the new one, never a half
// written one: the bytes go to a new file in the same folder, which is then renamed over the old name.
// A private file is readable by its owner only (mode 0600); otherwise an existing file keeps its mode.
// Raises EInOutError naming the file when it cannot be written; the folder must exist.
void WriteFileReplacing(const QString& fileName, const QByteArray& bytes, bool privateFile = false);
