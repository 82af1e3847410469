#pragma once

#include <QDialog>

class QLabel;
class QLineEdit;
class QPushButton;

// "Регистрация нового пользователя": creates an account; registering does not log in.
class TfRegister : public QDialog {
    Q_OBJECT
public:
    explicit TfRegister(QWidget* Owner = nullptr);

    void bOKClick();
    void bCancelClick();
    // True when all input is acceptable; otherwise the first broken rule is shown at its edit.
    bool ValidateInput();

    QLabel* txtUserName;
    QLineEdit* eName;
    QLabel* txtEmail;
    QLineEdit* eEmail;
    QLabel* txtPass;
    QLineEdit* ePass;
    QLabel* txtPassConfirm;
    QLineEdit* ePassConfirm;
    QPushButton* bOK;
    QPushButton* bCancel;

private:
    void Register();
    // The edit gets the focus first, then the warning is shown.
    void ShowFieldError(const QString& Text, QLineEdit* Edit);
};
