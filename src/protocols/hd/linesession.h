#pragma once
// The session of the HD monitors and of the KF-71 system: one machine for
// both, told apart by their LineFamily. Wait for the link, detect and log in
// to the unit (or to the relay server of another station), identify it,
// start its data stream, then file each streamed frame in the relay store
// and decode it as its bytes come, sending the commands relay clients queue
// on the tick in between (which also takes one frame the link left).
// Connect, Disconnect and the program's close end the unit's session first.
#include "connection/session.h"
#include "protocols/framecutter.h"
#include "protocols/hd/linefamily.h"

#include <memory>

class LineDecoder;

class LineSession : public Session {
public:
    static constexpr int kUnitFrameSize = 1501;
    static constexpr int kRelayFrameSize = 1509;
    static constexpr int kSerialFrameRead = 2048;
    // A streaming unit sends the bytes of a frame back to back: a partial
    // frame followed by two seconds of silence will never be completed.
    static constexpr qint64 kStaleFrameMs = 2000;
    static constexpr int kFrameTextLimit = 64 * 1024;
    // The longest a polling page with nothing to do goes without a tick.
    static constexpr qint64 kQuietPollingMs = 10000;

    // Phases of the line session.
    enum Phase {
        Idle = 0, WaitLink = 1, Detect = 2, UpdateUnit = 3, Polling = 4, UpdateNetwork = 5,
        ConnectReset = 6, DisconnectReset = 7, Exit = 8,
    };

    // The decoder may be null: frames are then filed and relayed, not decoded.
    LineSession(SessionHost &page, const LineFamily &family, std::unique_ptr<LineDecoder> decoder);
    ~LineSession() override;

    void tick() override;
    void onSocketRead() override;
    qint64 quietMs() const override;
    void connectButton() override;
    void disconnectButton() override;
    void requestShutdown() override;
    void linkOpening() override;
    QList<HardwareRow> hardwareRows() const override;
    QString hardwareThirdColumn() const override;

    static FrameFormat frameFormat(bool viaRelay);
    // Received, not yet cut into frames.
    const FrameCutter &frameCutter() const { return m_cutter; }

    const LineFamily &family() const { return m_family; }
    const LineDecoder *decoder() const { return m_decoder.get(); }
    const LineIdentity &identity() const { return m_identity; }
    int accessLevel() const { return m_accessLevel; }
    bool readOnly() const { return m_readOnly; }
    int connectStep() const { return m_connectStep; }
    int closeStep() const { return m_closeStep; }
    bool connectDone() const { return m_connectDone; }
    bool disconnectDone() const { return m_disconnectDone; }
    // A KH-71 without LCD was found: its firmware must be updated before it streams.
    bool updateDialogNeeded() const { return m_updateDialogNeeded; }

private:
    // linedetect.cpp
    void waitForLink();
    void detectStep();
    void promptStep();
    void levelStep();
    void identifyStep();
    void startStream();
    void startPolling();
    void updateNeededStep();
    void grantLevel(int level);
    void fail(const QString &message);

    // linesession.cpp
    void pollStep();
    void serviceCommand();
    void receiveStep();
    void take(const QByteArray &bytes);
    void fileFrame(const QByteArray &frame, const QDateTime &now);
    void decodeNewest();
    void connectMachine();
    void closeMachine(bool exiting);

    const LineFamily &m_family;
    std::unique_ptr<LineDecoder> m_decoder;
    FrameCutter m_cutter;
    int m_format = -1; // the cutter's format: 0 unit frames, 1 relay records
    LineIdentity m_identity;
    int m_accessLevel = 0;
    bool m_readOnly = false;
    int m_connectStep = 0;
    int m_closeStep = 0;
    bool m_connectDone = false;
    bool m_disconnectDone = false;
    bool m_updateDialogNeeded = false;
};
