#pragma once

#include <QDialog>

class QCheckBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPushButton;
class QTimer;

// "Авторизация": exchanges a user name and password for a token kept in "user.dat".
class TfLogin : public QDialog {
    Q_OBJECT
public:
    explicit TfLogin(QWidget* Owner = nullptr);
    ~TfLogin() override;

    // Fired once, just after the dialog appears: the stored name is filled in.
    void FormCreate();
    void eCredentialsChange();
    void bOKClick();
    void bCancelClick();
    void bRegisterClick();

    QFrame* panelHeader;
    QLabel* txtUserName;
    QLineEdit* eName;
    QLabel* txtPass;
    QLineEdit* ePass;
    QCheckBox* checkRemember;
    QPushButton* bOK;
    QPushButton* bCancel;
    QFrame* panelFooter;
    QLabel* txtRegister;
    QPushButton* bRegister;
    QTimer* timerOnCreate;

private:
    void Login();
    // While the registration dialog is open: a name the service gave goes into eName.
    void OnUserChange();
    bool FSubscribed = false;
};

// Shows the login dialog modally with the given owner; true when the user has a token afterwards.
bool ShowLoginDialog(QWidget* Owner);
