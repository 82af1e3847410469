#pragma once

// A runtime package of another vendor that a component needs: present when the file its metadata names
// exists, otherwise installed by an installer downloaded from the first working address and run with
// administrator rights.

#include "Service/Meta/Translator.h"

#include <QString>

#include <memory>

class TDepManager : public std::enable_shared_from_this<TDepManager> {
public:
    // Reads the dependency's metadata; its errors reach the caller.
    explicit TDepManager(const QString& APublicKey);
    virtual ~TDepManager();

    // Unless present: one ttDep task appended to InstallTasks.
    void InstallWhenNotAvailable();
    // True when the metadata names an "install"/"file" that exists ("{sys}" is the system folder).
    bool isPresent() const;
    // The task's work: download the installer, run it elevated and wait for it.
    void Install();

    const QString& PublicKey() const { return FPublicKey; }

    QString PackageFileName; // set when the work starts
    std::unique_ptr<TMetaTranslator> Meta;

private:
    QString FPublicKey;
};
