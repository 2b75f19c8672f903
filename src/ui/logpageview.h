#pragma once
// The Log page ("    Log  "): the player's file, times, range pickers,
// position slider and transport buttons. It shows what the player holds
// and passes the operator's actions on; the player does the stepping.
#include <QDateTime>
#include <QWidget>

class LogPlayer;
class QCheckBox;
class QDateTimeEdit;
class QFileDialog;
class QLabel;
class QLineEdit;
class QSlider;

class LogPageView : public QWidget {
    Q_OBJECT
public:
    LogPageView(LogPlayer &player, const QString &baseDirectory, QWidget *parent = nullptr);

    // "Load  File": the open dialog, then the player. Also for tests, with
    // the file chosen beforehand.
    void loadFile();
    bool loadPath(const QString &path);

    QLabel *fileLabel() const { return m_fileLabel; }
    QLabel *startLabel() const { return m_startLabel; }
    QLabel *stopLabel() const { return m_stopLabel; }
    QLabel *dateLabel() const { return m_dateLabel; }
    QDateTimeEdit *startPicker() const { return m_startPicker; }
    QDateTimeEdit *stopPicker() const { return m_stopPicker; }
    QSlider *slider() const { return m_slider; }
    QLineEdit *timeField() const { return m_time; }
    QFileDialog *openDialog() const { return m_openDialog; }

    // The open dialog's filter, as the other station programs offer it.
    static QStringList nameFilters();

signals:
    void errorRaised(const QString &text);

private:
    void refresh();
    void showPicker(QDateTimeEdit *picker, QDateTime &shown, const QDateTime &time, bool always);

    LogPlayer &m_player;
    QString m_baseDirectory;
    QFileDialog *m_openDialog;
    QLabel *m_fileLabel;
    QLabel *m_startLabel;
    QLabel *m_stopLabel;
    QLabel *m_dateLabel;
    QDateTimeEdit *m_startPicker;
    QDateTimeEdit *m_stopPicker;
    QSlider *m_slider;
    QLineEdit *m_time;
    QCheckBox *m_loop;
    QDateTime m_shownStart, m_shownStop;
};
