#pragma once

#include "App/Subscriber.h"

#include <QString>

#include <mutex>

enum class TUserChangeEvent { ceNone, ceName, ceToken };

// The logged-in user's name and token, kept in "user.dat". Lives on the main thread.
class TUser {
public:
    TUser();
    const QString& Name() const { return FName; }
    const QString& Token() const { return FToken; }
    // The token for workers: a copy kept under a lock, so a request never waits for the main thread.
    QString SharedToken() const;
    void SetName(const QString& value);
    void SetToken(const QString& value);
    bool hasName() const { return !FName.isEmpty(); }
    bool hasToken() const { return !FToken.isEmpty(); }
    TUserChangeEvent LastChangeEvent() const { return FLastChangeEvent; }
    TSubscriberList& OnChangeSubscribers() { return FOnChangeSubscribers; }

    void Load();
    void Save();
    void ResetToken();

private:
    TUserChangeEvent FLastChangeEvent = TUserChangeEvent::ceNone;
    TSubscriberList FOnChangeSubscribers;
    QString FName;
    QString FToken;
    mutable std::mutex FSharedTokenLock;
    QString FSharedToken;
};

// The single user of the run (created by InitUser at start-up, freed by DoneUser at shut-down).
TUser& CurrentUser();
void InitUser();
void DoneUser();
void SubscribeOnUserChange(const TNotifyEvent& handler);
void UnsubscribeOnUserChange(const TNotifyEvent& handler);

// The per-installation key from "key.dat", made on first use; safe to call from any thread.
QString GetInstallKey();
