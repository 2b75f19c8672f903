#include "loaderunit.h"

#include "trace.h"

namespace hdsim {

LoaderUnit::LoaderUnit(const LoaderOptions &options, QObject *parent)
    : Unit(parent), loader_(new Loader(options, this))
{
    connect(loader_, &Loader::output, this, &Unit::output);
    connect(loader_, &Loader::programLoaded, this, [](const QByteArray &version, const QByteArray &) {
        if (Trace *t = globalTrace())
            t->note(QStringLiteral("program loaded, version ") + QString::fromLatin1(version));
    });
}

void LoaderUnit::receive(const QByteArray &bytes)
{
    for (char c : bytes) {
        if (c != '\r') {
            if (line_.size() < Loader::kMaxLine)
                line_.append(c);
            continue;
        }
        const QByteArray line = line_;
        line_.clear();
        if (!loader_->takeLine(line))
            if (Trace *t = globalTrace())
                t->received(line + '\r', QStringLiteral("ignored"));
    }
}

void LoaderUnit::linkDown()
{
    line_.clear();
    loader_->linkDown();
}

} // namespace hdsim
