#pragma once

#include <QObject>
#include <QSocketNotifier>

// Turns SIGINT (Ctrl-C), SIGTERM and SIGHUP into a signal on the main thread:
// the handler only writes a byte into a pipe, whose reading end the event
// loop watches. Emits once per signal received. One instance per process.
class InterruptSignal : public QObject {
    Q_OBJECT

public:
    explicit InterruptSignal(QObject* parent = nullptr);
    ~InterruptSignal() override;

signals:
    void interrupted();

private:
    void drain();

    QSocketNotifier* notifier = nullptr;
};
