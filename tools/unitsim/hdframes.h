// The frames of the HD monitors (KH-71, KH-72) and of the KF-71: each family
// with its parameter table, its settings memory and its page cycle.
#pragma once

#include "lineframes.h"

namespace hdsim {

// KH-71 and KH-72: pages 0 (settings image), 1 (station information),
// 2..10 (programme data of programmes 1..9) and 18 (alarm table), a check
// value over the frame in its last two bytes.
class HdFrames : public FrameSource
{
public:
    explicit HdFrames(bool kh72);
    bool pressButton(int number, const QList<int> &pairs, QString *what) override;

protected:
    QList<int> pageCycle() const override;
    void fill(QByteArray &frame, int page, qint64 count) override;
    void seal(QByteArray &frame) override;

private:
    void stationPage(QByteArray &f) const;
    void programmePage(QByteArray &f, int programme, qint64 count) const;
    bool kh72_;
};

// KF-71: pages 0 (settings image), 1 (RDS data with two radiotexts) and 18
// (alarm table); its status byte (parameter 0) rides in every frame.
class KfFrames : public FrameSource
{
public:
    KfFrames();

protected:
    QList<int> pageCycle() const override;
    void fill(QByteArray &frame, int page, qint64 count) override;
    void changed(int number) override;

private:
    void rdsPage(QByteArray &f, qint64 count) const;
};

} // namespace hdsim
