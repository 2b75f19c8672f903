#include "ui/logpageview.h"

#include "playback/logplayer.h"
#include "ui/pagewidgets.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>

namespace {

// The same date and time forms as the message lines.
QString longTime(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("HH:mm:ss")) : QString();
}

QString shortDate(const QDateTime &t)
{
    return t.isValid() ? t.toString(QStringLiteral("M/d/yyyy")) : QString();
}

QDateTimeEdit *timePicker(const QString &name, QWidget *parent)
{
    auto *picker = new QDateTimeEdit(parent);
    picker->setObjectName(name);
    picker->setDisplayFormat(QStringLiteral("HH:mm:ss"));
    picker->setTimeSpec(Qt::LocalTime);
    // A time is taken when typed in full (Enter or leaving the field), not
    // digit by digit: "2" on the way to "23" is no time the operator meant.
    picker->setKeyboardTracking(false);
    return picker;
}

} // namespace

QStringList LogPageView::nameFilters()
{
    // Names from other machines may come in either case.
    QStringList filters{QStringLiteral("All (*.L* *.l*)")};
    for (int i = 1; i <= 8; ++i)
        filters << QStringLiteral("Connect #%1 (*.LW%1 *.LC%1 *.lw%1 *.lc%1)").arg(i);
    return filters;
}

LogPageView::LogPageView(LogPlayer &player, const QString &baseDirectory, QWidget *parent)
    : QWidget(parent), m_player(player), m_baseDirectory(baseDirectory)
{
    setObjectName(QStringLiteral("Log1"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 6, 8, 6);
    layout->setSpacing(6);

    auto *heading = new QLabel(QStringLiteral("Log File Playback"), this);
    QFont bold = heading->font();
    bold.setBold(true);
    heading->setFont(bold);
    layout->addWidget(heading);

    m_fileLabel = new QLabel(QStringLiteral("File Name:"), this);
    m_startLabel = new QLabel(QStringLiteral("Start Time:"), this);
    m_stopLabel = new QLabel(QStringLiteral("Stop Time:"), this);
    m_dateLabel = new QLabel(QStringLiteral("Date:"), this);
    m_fileLabel->setTextInteractionFlags(Qt::TextSelectableByMouse);
    for (QLabel *l : {m_fileLabel, m_startLabel, m_stopLabel, m_dateLabel})
        layout->addWidget(l);

    auto *pickers = new QGridLayout;
    pickers->addWidget(new QLabel(QStringLiteral("Start Time"), this), 0, 0);
    pickers->addWidget(new QLabel(QStringLiteral("Stop Time"), this), 0, 1);
    m_startPicker = timePicker(QStringLiteral("StartTimePicker"), this);
    m_stopPicker = timePicker(QStringLiteral("StopTimePicker"), this);
    pickers->addWidget(m_startPicker, 1, 0);
    pickers->addWidget(m_stopPicker, 1, 1);
    m_loop = new QCheckBox(QStringLiteral("Loop"), this);
    m_loop->setObjectName(QStringLiteral("CheckBox1"));
    pickers->addWidget(m_loop, 1, 2);
    pickers->setColumnStretch(3, 1);
    layout->addLayout(pickers);

    m_slider = new QSlider(Qt::Horizontal, this);
    m_slider->setObjectName(QStringLiteral("TrackBar1"));
    m_slider->setRange(0, 100);
    m_slider->setTickPosition(QSlider::TicksBelow);
    m_slider->setTickInterval(10);
    layout->addWidget(m_slider);

    m_time = new QLineEdit(this);
    m_time->setObjectName(QStringLiteral("Edit1"));
    m_time->setReadOnly(true);
    m_time->setMaximumWidth(200);
    layout->addWidget(m_time);

    auto *transport = new QHBoxLayout;
    auto button = [&](const char *name, const char *text) {
        return addButton(transport, QString::fromLatin1(name), QString::fromLatin1(text), this);
    };
    QPushButton *load = button("ButtonLoad", "Load  File");
    transport->addSpacing(12);
    QPushButton *toStart = button("ButtonStart", "I<");
    QPushButton *rewind = button("ButtonRewind", "<<");
    QPushButton *play = button("ButtonPlay", ">");
    QPushButton *forward = button("ButtonForward", ">>");
    QPushButton *toEnd = button("ButtonEnd", ">I");
    QPushButton *pause = button("ButtonPause", "II");
    for (QPushButton *b : {toStart, rewind, play, forward, toEnd, pause})
        b->setFixedWidth(36);
    transport->addStretch(1);
    layout->addLayout(transport);
    layout->addStretch(1);

    m_openDialog = new QFileDialog(this, QStringLiteral("Open"));
    m_openDialog->setFileMode(QFileDialog::ExistingFile);
    m_openDialog->setAcceptMode(QFileDialog::AcceptOpen);
    m_openDialog->setNameFilters(nameFilters());

    connect(load, &QPushButton::clicked, this, &LogPageView::loadFile);
    connect(toStart, &QPushButton::clicked, &player, &LogPlayer::toStart);
    connect(rewind, &QPushButton::clicked, &player, &LogPlayer::rewind);
    connect(play, &QPushButton::clicked, &player, &LogPlayer::play);
    connect(forward, &QPushButton::clicked, &player, &LogPlayer::fastForward);
    connect(toEnd, &QPushButton::clicked, &player, &LogPlayer::toEnd);
    connect(pause, &QPushButton::clicked, &player, &LogPlayer::pause);
    connect(m_loop, &QCheckBox::toggled, &player, &LogPlayer::setLoop);
    connect(m_slider, &QSlider::valueChanged, &player, &LogPlayer::sliderChanged);
    // The pickers show times only: a time is placed in the file's own order,
    // so a range may run over midnight. What the player took is shown at once,
    // also when it is what the picker held before.
    connect(m_startPicker, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime &t) {
        showPicker(m_startPicker, m_shownStart, m_player.setStartTimeOfDay(t.time()), true);
    });
    connect(m_stopPicker, &QDateTimeEdit::dateTimeChanged, this, [this](const QDateTime &t) {
        showPicker(m_stopPicker, m_shownStop, m_player.setStopTimeOfDay(t.time()), true);
    });
    connect(&player, &LogPlayer::changed, this, &LogPageView::refresh);
    connect(&player, &LogPlayer::errorRaised, this, &LogPageView::errorRaised);
    refresh();
}

void LogPageView::loadFile()
{
    if (m_openDialog->directory().path().isEmpty() || m_openDialog->property("initialised").isNull()) {
        m_openDialog->setDirectory(m_baseDirectory + QStringLiteral("/LOG/"));
        m_openDialog->setProperty("initialised", true);
    }
    if (m_openDialog->exec() != QDialog::Accepted || m_openDialog->selectedFiles().isEmpty())
        return;
    loadPath(m_openDialog->selectedFiles().first());
}

bool LogPageView::loadPath(const QString &path)
{
    QString error;
    if (!m_player.load(path, &error)) {
        emit errorRaised(error);
        return false;
    }
    return true;
}

void LogPageView::refresh()
{
    const bool loaded = m_player.isLoaded();
    if (loaded) {
        m_fileLabel->setText(QStringLiteral("  Filename:   ") + QFileInfo(m_player.filePath()).fileName());
        m_startLabel->setText(QStringLiteral("Start Time:   ") + longTime(m_player.firstTime()));
        m_stopLabel->setText(QStringLiteral(" Stop Time:   ") + longTime(m_player.lastTime()));
        m_dateLabel->setText(QStringLiteral("   Date:      ") + shortDate(m_player.firstTime()));
    }
    // What the player set is shown without being taken back as the operator's
    // move; a picker is rewritten only when the player's time moved, so that
    // playback never overwrites a time being typed.
    showPicker(m_startPicker, m_shownStart, m_player.startPicker(), false);
    showPicker(m_stopPicker, m_shownStop, m_player.stopPicker(), false);
    {
        const QSignalBlocker c(m_slider);
        m_slider->setValue(m_player.slider());
    }
    const QDateTime shown = m_player.shownTime();
    m_time->setText(loaded && shown.isValid() ? shortDate(shown) + QLatin1Char(' ') + longTime(shown) : QString());
}

void LogPageView::showPicker(QDateTimeEdit *picker, QDateTime &shown, const QDateTime &time, bool always)
{
    if (!time.isValid() || (!always && time == shown))
        return;
    shown = time;
    const QSignalBlocker blocker(picker);
    picker->setDateTime(time);
}
