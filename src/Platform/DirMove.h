#pragma once

#include <QString>
#include <QStringList>

#include <atomic>
#include <functional>

// Moves everything inside one folder into another, as a file manager does: folders that exist on both
// sides are merged, a file whose name is taken asks what to do, and a move to another file system copies
// and then deletes. Nothing is lost on the way: a source file is deleted only after its copy is complete
// under its final name, a cancelled or failed file leaves no partial copy, and what could not be moved
// stays in the source. Nothing is written outside the target folder: links are moved as links and never
// followed, on either side.
class TDirMove {
public:
    enum class TConflictAnswer { Replace, Skip };

    // Asked for a file or link whose name is taken in the target (also by a folder, which is never
    // replaced). Runs on the moving thread. Unset: skip.
    std::function<TConflictAnswer(const QString& Source, const QString& Target)> OnConflict;
    // Bytes moved so far and in all; runs on the moving thread, often.
    std::function<void(qint64 Done, qint64 Total)> OnProgress;

    struct TResult {
        bool Complete = false;  // every entry arrived and the source is empty
        bool Cancelled = false;
        QStringList Skipped;    // source names left because of a conflict
        QStringList Errors;     // one text per entry that failed
    };

    // Source must be a folder (a missing one has nothing to move); Target is made when missing and must
    // not be Source or lie inside it. Never raises: problems end up in the result.
    TResult Run(const QString& Source, const QString& Target);

    // Asks a running move to stop at its next file or block; safe from any thread.
    void Cancel() { FCancelled.store(true); }
    bool CancelRequested() const { return FCancelled.load(); }

private:
    struct TState;
    std::atomic<bool> FCancelled{false};
};

// True when Inner is Outer or lies inside it, by their absolute, cleaned and (as far as they exist)
// link-resolved names.
bool IsSameOrInsideFolder(const QString& Inner, const QString& Outer);
