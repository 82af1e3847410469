// Demo Arcade: catch the circle as often as possible before the time runs out. The launcher learns the
// result from the files the game writes into its ".meta" folder: "hiscore.se" holds the round's score
// (little-endian 32-bit), "first-blood.ae" marks the first hit of a round.
// With DEMO_AUTOPLAY=1 it plays one short round by itself, writes both files and quits.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QRandomGenerator>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace {

QString MetaDir() { return QCoreApplication::applicationDirPath() + QStringLiteral("/.meta/"); }

// One write per file, so that a watcher that reacts to the change finds the whole content.
void WriteMetaFile(const QString& name, const QByteArray& bytes) {
    QDir().mkpath(MetaDir());
    QFile f(MetaDir() + name);
    if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        f.write(bytes);
}

void WriteScore(qint32 score) {
    QByteArray bytes(4, '\0');
    for (int i = 0; i < 4; ++i)
        bytes[i] = char((quint32(score) >> (8 * i)) & 0xFF);
    WriteMetaFile(QStringLiteral("hiscore.se"), bytes);
}

class Field : public QWidget {
public:
    std::function<void()> OnHit;

    Field() { setMinimumSize(440, 280); }
    void MoveTarget() {
        auto* rng = QRandomGenerator::global();
        FTarget = QPoint(rng->bounded(FRadius, qMax(FRadius + 1, width() - FRadius)),
                         rng->bounded(FRadius, qMax(FRadius + 1, height() - FRadius)));
        update();
    }
    void SetActive(bool active) {
        FActive = active;
        update();
    }
    void Hit() {
        if (OnHit)
            OnHit();
        MoveTarget();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing);
        p.fillRect(rect(), QColor(30, 31, 34));
        if (!FActive)
            return;
        p.setBrush(QColor(215, 109, 119));
        p.setPen(Qt::NoPen);
        p.drawEllipse(FTarget, FRadius, FRadius);
    }
    void mousePressEvent(QMouseEvent* e) override {
        QPoint d = e->position().toPoint() - FTarget;
        if (FActive && d.x() * d.x() + d.y() * d.y() <= FRadius * FRadius)
            Hit();
    }

private:
    QPoint FTarget{100, 100};
    int FRadius = 24;
    bool FActive = false;
};

class ArcadeWindow : public QWidget {
public:
    explicit ArcadeWindow(bool autoplay) : FAutoplay(autoplay) {
        setWindowTitle(QStringLiteral("Demo Arcade"));
        auto* layout = new QVBoxLayout(this);
        FStatus = new QLabel(this);
        FField = new Field;
        FPlay = new QPushButton(QStringLiteral("Играть"), this);
        layout->addWidget(FStatus);
        layout->addWidget(FField, 1);
        layout->addWidget(FPlay);
        FField->OnHit = [this] { OnHit(); };
        connect(FPlay, &QPushButton::clicked, this, [this] { StartRound(); });
        FClock.setInterval(100);
        connect(&FClock, &QTimer::timeout, this, [this] { Tick(); });
        ShowStatus(QStringLiteral("Нажмите «Играть»"));
    }

    void StartRound() {
        FScore = 0;
        FFirstHit = true;
        FTicksLeft = FAutoplay ? 12 : 100;
        FPlay->setEnabled(false);
        FField->SetActive(true);
        FField->MoveTarget();
        FClock.start();
        ShowStatus();
    }

private:
    void ShowStatus(const QString& note = {}) {
        FStatus->setText(note.isEmpty() ? QStringLiteral("Очки: %1    Осталось: %2 с").arg(FScore).arg(FTicksLeft / 10.0, 0, 'f', 1)
                                        : note);
    }
    void OnHit() {
        FScore += 100;
        if (FFirstHit) {
            FFirstHit = false;
            WriteMetaFile(QStringLiteral("first-blood.ae"), QByteArrayLiteral("1"));
        }
        ShowStatus();
    }
    void Tick() {
        if (FAutoplay && FTicksLeft % 2 == 0)
            FField->Hit();
        if (--FTicksLeft > 0)
            return ShowStatus();
        FClock.stop();
        FField->SetActive(false);
        FPlay->setEnabled(true);
        WriteScore(FScore);
        ShowStatus(QStringLiteral("Раунд окончен: %1 очков").arg(FScore));
        if (FAutoplay)
            QTimer::singleShot(0, qApp, &QApplication::quit);
    }

    bool FAutoplay;
    QLabel* FStatus;
    Field* FField;
    QPushButton* FPlay;
    QTimer FClock;
    int FScore = 0;
    int FTicksLeft = 0;
    bool FFirstHit = true;
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const bool autoplay = qgetenv("DEMO_AUTOPLAY") == "1";
    ArcadeWindow window(autoplay);
    window.resize(480, 380);
    window.show();
    if (autoplay)
        QTimer::singleShot(0, &window, [&window] { window.StartRound(); });
    return app.exec();
}
