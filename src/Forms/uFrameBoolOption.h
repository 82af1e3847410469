#pragma once

#include <QAbstractButton>
#include <QFrame>

#include <functional>

class QLabel;

// An on/off switch drawn as a sliding knob; a click toggles it.
class TToggleSwitch : public QAbstractButton {
public:
    explicit TToggleSwitch(QWidget* parent);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
};

// One row of the settings: a caption on the left and a switch on the right that mirrors a bound
// Boolean variable.
class TFrameBoolOption : public QFrame {
    Q_OBJECT
public:
    explicit TFrameBoolOption(QWidget* parent);
    ~TFrameBoolOption() override;

    // The variable the switch mirrors (null: none); a bound switch takes the variable's value at once.
    void BindVariable(bool* VariablePointer);
    void ClearBinding() { FBinding = nullptr; }
    // The switch's click: copies the switch into the variable when they differ and tells OnCheckedChanged.
    void BindUpdate(QObject* Sender);

    QString Caption() const;
    void SetCaption(const QString& Value);
    bool Checked() const;
    void SetChecked(bool Value);

    // Runs after a click changed the bound variable; the option is the sender.
    std::function<void(TFrameBoolOption* Sender)> OnCheckedChanged;

    QLabel* txtCaption = nullptr;
    TToggleSwitch* switchValue = nullptr;

private:
    bool* FBinding = nullptr;
};
