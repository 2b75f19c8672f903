// A unit that is nothing but its program loader (--unit loader): for trying
// the server's update machines on their own. Lines outside the loader are
// taken and ignored.
#pragma once

#include "hdloader.h"
#include "unit.h"

namespace hdsim {

class LoaderUnit : public Unit
{
    Q_OBJECT
public:
    LoaderUnit(const LoaderOptions &options, QObject *parent = nullptr);
    void receive(const QByteArray &bytes) override;
    void linkDown() override;

private:
    Loader *loader_;
    QByteArray line_;
};

} // namespace hdsim
