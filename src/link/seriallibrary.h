#pragma once
// The serial operations the connection pages rely on, with the result codes
// and texts station engineers know from their serial tools. Ports
// are 0-based indices (0 = COM1) mapped to devices by a ComPortMap.
//
// Reads never wait: bytes arriving between timer ticks wait in the port's
// receive queue, and dataArrived() says when they come. Modem-control calls
// a pseudo-terminal refuses are not errors.
#include <QByteArray>
#include <QObject>
#include <QString>
#include <array>

class ComPortMap;
class QSerialPort;

namespace sio {
enum Code {
    Ok = 0,
    NoSuchPort = -1,
    AlreadyOpen = -2,
    NotOpen = -3,
    NoMemory = -4,
    BadDefaults = -5,
    NoHardware = -10,
    BadByteSize = -11,
    BadBaud = -12,
    NoData = -100,
    BadParameter = -101,
    SystemError = -103,
};
// The table text for a code ("No Such Port", ...); empty for unknown codes.
QString errorText(int code);
// Baud rate for a baud code 2..9 (1200 .. 115200); 0 for other codes.
int baudRate(int baudCode);
} // namespace sio

class SerialLibrary : public QObject {
    Q_OBJECT
public:
    static constexpr int kPorts = 9;

    explicit SerialLibrary(const ComPortMap &map, QObject *parent = nullptr);
    ~SerialLibrary() override;

    // -3 when this program has not opened the port (nor its device through
    // another index); -1 when the device does not exist; 0 when it is open.
    int sioStatus(int port, int mask = 0) const;
    // Opens the port; receive queue size bounds what waits between reads.
    int sioReset(int port, int rxQueue, int txQueue);
    int sioParms(int port, int parity, int stopBits, int dataBits);
    int sioBaud(int port, int baudCode);
    int sioDtr(int port, char cmd);  // 'S' set, 'C' clear
    int sioRts(int port, char cmd);
    int sioFlow(int port, char cmd); // 'N' none
    int sioPuts(int port, const QByteArray &bytes);
    QByteArray sioGets(int port, int max);
    int sioRxQue(int port) const;
    int sioRxClear(int port);
    int sioDone(int port);

    // A detail for the last SystemError/AlreadyOpen result of sioReset (device
    // and the system's reason), for a clearer message line.
    QString lastErrorDetail() const { return m_lastDetail; }

    bool isOpen(int port) const;

signals:
    // Bytes came in on an open port (they wait in its receive queue).
    void dataArrived(int port);
    // The device failed while open (cable or adapter gone, far end of a
    // pseudo-terminal closed). The port has already been closed.
    void portFailed(int port, const QString &detail);

private:
    QSerialPort *portAt(int port) const;
    QString resolvedDevice(int port) const;
    void onError(int port);

    const ComPortMap &m_map;
    std::array<QSerialPort *, kPorts> m_ports{};
    std::array<QString, kPorts> m_devices;
    QString m_lastDetail;
};
