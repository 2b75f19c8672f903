#pragma once
// An event dispatcher on epoll for the thread without a window. Qt's own
// dispatchers hand every socket notifier to poll() on each pass through the
// loop; with hundreds of viewers connected that scan is most of what a pass
// costs. Here a pass costs what is ready, not what is open.
//
// Install it with QCoreApplication::setEventDispatcher() before the
// application object exists. Not for a window: the window system's events
// come through the platform's own dispatcher.
#include <QAbstractEventDispatcher>
#include <memory>

class EpollDispatcher : public QAbstractEventDispatcher {
public:
    explicit EpollDispatcher(QObject *parent = nullptr);
    ~EpollDispatcher() override;

    bool processEvents(QEventLoop::ProcessEventsFlags flags) override;

    void registerSocketNotifier(QSocketNotifier *notifier) override;
    void unregisterSocketNotifier(QSocketNotifier *notifier) override;

    using QAbstractEventDispatcher::registerTimer;
    void registerTimer(int timerId, qint64 interval, Qt::TimerType timerType, QObject *object) override;
    bool unregisterTimer(int timerId) override;
    bool unregisterTimers(QObject *object) override;
    QList<TimerInfo> registeredTimers(QObject *object) const override;
    int remainingTime(int timerId) override;

    // Both may be called from any thread.
    void wakeUp() override;
    void interrupt() override;

private:
    struct Private;
    std::unique_ptr<Private> d;
};
