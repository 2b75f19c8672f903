#pragma once
// The session of a page whose hardware is the KX-71 analyzer: find it on a
// slow tick, read the heads of its two program files and its own version
// reply, then keep its data stream flowing by asking for the next frame each
// time one has been decoded. Frames are cut from the byte stream as their
// bytes come (the link's read event), and on the tick what is left.
#include "connection/session.h"
#include "protocols/framecutter.h"
#include "protocols/kx71/kx71store.h"
#include "protocols/kx71/kx71values.h"

#include <QString>
#include <array>
#include <functional>
#include <memory>
#include <optional>

class QIODevice;

class Kx71Session : public Session {
public:
    static constexpr int kSlowTick = 1000;
    static constexpr int kRunTick = 125;
    static constexpr int kTypeAskAgain1 = 4;
    static constexpr int kTypeAskAgain2 = 8;
    static constexpr int kTypeLimit = 12;
    static constexpr int kWatchdogLimit = 10; // more ticks than this: ask again
    static constexpr int kSerialRead = 1024;
    // Longest relay client command passed on; the analyzer's are a few characters.
    static constexpr int kMaxCommand = 64;

    // The head of a program file: record count, then two lines that together
    // give the program's version.
    struct ProgramHead {
        bool found = false;
        quint16 recordCount = 0;
        QString text;                      // line 2, a blank, line 3
        std::optional<int> major, minor;   // line 3, characters 1-2 and 4-5
    };
    // The analyzer's answer to "U\r" taken apart; empty and unset when the
    // answer is too short or holds no numbers where they belong.
    struct VersionParts {
        QByteArray first, second;          // characters 4-13 and 18-27
        std::array<std::optional<int>, 4> numbers; // characters 9-10, 12-13, 23-24, 26-27
    };

    using FileOpener = std::function<std::unique_ptr<QIODevice>(const QString &path)>;

    explicit Kx71Session(SessionHost &page);
    ~Kx71Session() override;

    void tick() override;
    void onSocketRead() override;
    void disconnectButton() override;
    void linkOpening() override;
    QList<HardwareRow> hardwareRows() const override;
    QByteArray kxStoredFrame(char selector) const override;
    bool queueUnitCommand(const QByteArray &text) override;

    static QString programPath(const QString &baseDirectory, const char *name);
    static ProgramHead readProgramHead(QIODevice &file);
    static VersionParts parseVersion(const QByteArray &reply);
    void setFileOpener(FileOpener opener) { m_openFile = std::move(opener); }

    int updateStep() const { return m_updateStep; }
    const Kx71Values &values() const { return m_values; }
    const Kx71Store &store() const { return m_store; }
    const ProgramHead &microHead() const { return m_microHead; }
    const ProgramHead &dspHead() const { return m_dspHead; }
    const VersionParts &versionParts() const { return m_versionParts; }
    // Received, not yet cut into frames.
    const FrameCutter &frameCutter() const { return m_cutter; }
    bool awaitingFrame() const { return m_awaitingFrame; }
    int watchdogCount() const { return m_watchdog; }
    int retries() const { return m_retries; }
    int badChecksums() const { return m_badChecksums; }

private:
    void setInterval(int ms);
    void waitForLink();
    void detectStep();
    void programmingStep();
    void readHead(const char *name, ProgramHead &head);
    void receive(int serialMax);
    void fileFrame(const QByteArray &frame);
    void decodeAndRequest();
    void watchdog();

    FileOpener m_openFile;
    FrameCutter m_cutter;
    int m_updateStep = 0;
    bool m_present = false;
    ProgramHead m_microHead, m_dspHead;
    VersionParts m_versionParts;
    Kx71Values m_values;
    Kx71Store m_store;
    bool m_awaitingFrame = false;
    int m_watchdog = 0;
    int m_retries = 0;
    int m_badChecksums = 0;
};
