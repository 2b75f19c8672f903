// A KX-71 analyzer as the server meets it on the wire: short ASCII commands
// ending in CR, text answers ending in F0 F1, and a 356-byte data frame for
// each data request.
#pragma once

#include "unit.h"

#include <functional>

namespace kxsim {

struct KxOptions {
    QByteArray type = "KX-71";                          // answer to "T\r"
    QByteArray version = "KX HC11 01.23    DSP  04.56"; // answer to "U\r"
    int corruptEvery = 0;   // every N-th frame has a wrong checksum (0 = none)
    int replyDelayMs = 0;
    bool silent = false;
};

// The --help section of the analyzer's options.
extern const char helpText[];

// Takes one --kx-... option (value() gives its value); false with a reason
// when the option is not one of them or its value is wrong.
bool parseOption(const QString &option, const std::function<QString()> &value, KxOptions *options,
                 QString *error);

class KxUnit : public Unit
{
    Q_OBJECT
public:
    explicit KxUnit(const KxOptions &options, QObject *parent = nullptr);

    void receive(const QByteArray &bytes) override;
    void linkUp() override;
    void linkDown() override;

    // The frame the analyzer sends as its n-th (from 0) in a data mode.
    static QByteArray frame(int n, int mode, const QByteArray &setting, bool corrupt);

private:
    void handle(const QByteArray &command);
    void sendFrame(int mode);
    void reset();

    KxOptions opt_;
    QByteArray buffer_;
    int mode_ = 0;
    int sent_ = 0;
    QByteArray setting_; // the last setting command, shown in bytes 43-48
};

} // namespace kxsim
