#include "Forms/uFrameBoolOption.h"

#include "Forms/Debug.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>

TToggleSwitch::TToggleSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

QSize TToggleSwitch::sizeHint() const { return {44, 22}; }

void TToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    const QColor accent = palette().color(QPalette::Highlight);
    const QColor off(0x3a, 0x3e, 0x44);
    QColor fill = isChecked() ? accent : off;
    if (!isEnabled())
        fill = fill.darker(160);
    p.setPen(hasFocus() ? QPen(accent.lighter(130), 1) : Qt::NoPen);
    p.setBrush(fill);
    p.drawRoundedRect(track, radius, radius);
    const qreal knob = track.height() - 4;
    const qreal x = isChecked() ? track.right() - 2 - knob : track.left() + 2;
    p.setPen(Qt::NoPen);
    p.setBrush(isEnabled() ? QColor(0xf2, 0xf2, 0xf2) : QColor(0x8a, 0x8d, 0x92));
    p.drawEllipse(QRectF(x, track.top() + 2, knob, knob));
}

TFrameBoolOption::TFrameBoolOption(QWidget* parent) : QFrame(parent) {
    setObjectName(QStringLiteral("FrameBoolOption"));
    setFixedHeight(39);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    txtCaption = new QLabel(this);
    txtCaption->setObjectName(QStringLiteral("txtCaption"));
    txtCaption->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    switchValue = new TToggleSwitch(this);
    switchValue->setObjectName(QStringLiteral("switchValue"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(8, 0, 8, 0);
    layout->addWidget(txtCaption, 1);
    layout->addWidget(switchValue, 0, Qt::AlignVCenter);
    connect(switchValue, &QAbstractButton::clicked, this,
            UserAction(switchValue, [this] { BindUpdate(switchValue); }));
}

TFrameBoolOption::~TFrameBoolOption() { ClearBinding(); }

void TFrameBoolOption::BindVariable(bool* VariablePointer) {
    FBinding = VariablePointer;
    if (FBinding)
        SetChecked(*FBinding);
}

void TFrameBoolOption::BindUpdate(QObject*) {
    if (!FBinding || Checked() == *FBinding)
        return;
    *FBinding = Checked();
    if (OnCheckedChanged)
        OnCheckedChanged(this);
}

QString TFrameBoolOption::Caption() const { return txtCaption->text(); }
void TFrameBoolOption::SetCaption(const QString& Value) { txtCaption->setText(Value); }
bool TFrameBoolOption::Checked() const { return switchValue->isChecked(); }
void TFrameBoolOption::SetChecked(bool Value) { switchValue->setChecked(Value); }
