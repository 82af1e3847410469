#pragma once

#include <QString>

// Login and registration against the service: the request texts, the input rules of the registration
// and what each answer means for the dialogs. Runs on the main thread (the dialogs wait for the request).

enum class TAccountField { None, Name, Email, Password };

// What the dialog does next: close when Accepted, otherwise stay open. A message (Resource not 0) is
// shown as information when Accepted and as a warning otherwise, after the focus moves to Focus.
struct TAccountAnswer {
    bool Accepted = false;
    int Resource = 0;
    QString Text;
    TAccountField Focus = TAccountField::None;
};

// Leading and trailing spaces and control characters removed, as names and e-mails are sent.
QString TrimInput(const QString& Text);

// {"user":..., "password":...}: the name trimmed, the password as typed.
QString BuildLoginPayload(const QString& Name, const QString& Password);
// {"user":..., "email":..., "password":...}: name and e-mail trimmed, the password as typed.
QString BuildRegisterPayload(const QString& Name, const QString& Email, const QString& Password);

// The first rule the input breaks, in the order the dialog checks them; Accepted when none.
TAccountAnswer ValidateRegistration(const QString& Name, const QString& Email, const QString& Password,
                                    const QString& PasswordConfirm);

// Exchanges name and password for a token, stored with the name in "user.dat". A refusal (403) gives
// the warning; every other error reaches the caller.
TAccountAnswer Login(const QString& Name, const QString& Password);

// Validates, then creates the account; the token is not touched (registering does not log in). The
// user gets the service's name only when it has none yet. Refusals the service explains (400 or 409
// naming "user" or "email") give their warning; every other error reaches the caller.
TAccountAnswer Register(const QString& Name, const QString& Email, const QString& Password,
                        const QString& PasswordConfirm);
