#include "link/seriallibrary.h"

#include "link/comportmap.h"

#include <QFileInfo>
#include <QSerialPort>

#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sio {

QString errorText(int code)
{
    switch (code) {
    case NoSuchPort: return QStringLiteral("No Such Port");
    case AlreadyOpen: return QStringLiteral("Port already opened.");
    case NotOpen: return QStringLiteral("Port not opened.");
    case NoMemory: return QStringLiteral("Cannot allocate memory for queues.");
    case BadDefaults: return QStringLiteral("Error in default parameters.");
    case NoHardware: return QStringLiteral("Hardware not present.");
    case BadByteSize: return QStringLiteral("Unsupported byte size.");
    case BadBaud: return QStringLiteral("Unsupported baud rate.");
    case NoData: return QStringLiteral("No incoming serial data is available.");
    case BadParameter: return QStringLiteral("A parameter is out of range.");
    case SystemError: return QStringLiteral("Win32 system error.");
    default: return QString();
    }
}

int baudRate(int baudCode)
{
    static const int rates[] = {1200, 2400, 4800, 9600, 19200, 38400, 57600, 115200};
    return baudCode >= 2 && baudCode <= 9 ? rates[baudCode - 2] : 0;
}

} // namespace sio

SerialLibrary::SerialLibrary(const ComPortMap &map, QObject *parent) : QObject(parent), m_map(map) {}

SerialLibrary::~SerialLibrary()
{
    for (int i = 0; i < kPorts; ++i)
        sioDone(i);
}

QSerialPort *SerialLibrary::portAt(int port) const
{
    return port >= 0 && port < kPorts ? m_ports[size_t(port)] : nullptr;
}

bool SerialLibrary::isOpen(int port) const
{
    return portAt(port) != nullptr;
}

// Two indices, a symlink and its target, or /dev/pts/N and a link to it name
// the same device: decide by the device number, not by the path.
QString SerialLibrary::resolvedDevice(int port) const
{
    const QString path = m_map.devicePath(port);
    if (path.isEmpty())
        return {};
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return {};
    if (S_ISCHR(st.st_mode))
        return QStringLiteral("chr:%1").arg(qulonglong(st.st_rdev));
    return QFileInfo(path).canonicalFilePath();
}

int SerialLibrary::sioStatus(int port, int) const
{
    if (port < 0 || port >= kPorts)
        return sio::NoSuchPort;
    if (isOpen(port))
        return 0;
    const QString device = resolvedDevice(port);
    if (device.isEmpty())
        return sio::NoSuchPort;
    for (int i = 0; i < kPorts; ++i)
        if (m_ports[size_t(i)] && m_devices[size_t(i)] == device)
            return 0;
    return sio::NotOpen;
}

int SerialLibrary::sioReset(int port, int rxQueue, int)
{
    m_lastDetail.clear();
    if (port < 0 || port >= kPorts)
        return sio::NoSuchPort;
    if (isOpen(port))
        return sio::AlreadyOpen;
    const QString path = m_map.devicePath(port);
    const QString device = resolvedDevice(port);
    if (device.isEmpty())
        return sio::NoSuchPort;
    for (int i = 0; i < kPorts; ++i)
        if (m_ports[size_t(i)] && m_devices[size_t(i)] == device)
            return sio::AlreadyOpen;

    auto *serial = new QSerialPort(path, this);
    serial->setReadBufferSize(rxQueue > 0 ? rxQueue : 2048);
    if (!serial->open(QIODevice::ReadWrite)) {
        const QSerialPort::SerialPortError error = serial->error();
        const QString reason = serial->errorString();
        delete serial;
        switch (error) {
        case QSerialPort::DeviceNotFoundError:
            return sio::NoSuchPort;
        case QSerialPort::OpenError:
            return sio::AlreadyOpen;
        case QSerialPort::PermissionError:
            // Readable and writable for us, yet refused: another program holds its lock.
            if (::access(QFile::encodeName(path).constData(), R_OK | W_OK) == 0) {
                m_lastDetail = path + QStringLiteral(": in use by another program");
                return sio::AlreadyOpen;
            }
            m_lastDetail = path + QStringLiteral(": ") + reason;
            return sio::SystemError;
        default:
            m_lastDetail = path + QStringLiteral(": ") + reason;
            return sio::SystemError;
        }
    }
    connect(serial, &QSerialPort::errorOccurred, this, [this, port](QSerialPort::SerialPortError error) {
        switch (error) {
        case QSerialPort::ReadError:
        case QSerialPort::WriteError:
        case QSerialPort::ResourceError:
            onError(port);
            break;
        default: // a pseudo-terminal refuses modem control and baud rates: not an error here
            break;
        }
    });
    connect(serial, &QSerialPort::readyRead, this, [this, port] { emit dataArrived(port); });
    m_ports[size_t(port)] = serial;
    m_devices[size_t(port)] = device;
    return 0;
}

void SerialLibrary::onError(int port)
{
    QSerialPort *serial = portAt(port);
    if (!serial)
        return;
    const QString path = m_map.devicePath(port);
    QString reason = serial->errorString();
    // A pseudo-terminal whose far end closed, or a USB adapter pulled out,
    // shows as a failed read whose errno says little; say what happened.
    struct stat st {};
    pollfd p {int(serial->handle()), POLLIN, 0};
    if (p.fd >= 0 && ::poll(&p, 1, 0) > 0 && (p.revents & POLLHUP))
        reason = QStringLiteral("the device hung up");
    else if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        reason = QStringLiteral("the device went away");
    const QString detail = path + QStringLiteral(": ") + reason;
    m_ports[size_t(port)] = nullptr;
    m_devices[size_t(port)].clear();
    serial->disconnect(this);
    serial->close();
    serial->deleteLater();
    emit portFailed(port, detail);
}

int SerialLibrary::sioParms(int port, int parity, int stopBits, int dataBits)
{
    QSerialPort *serial = portAt(port);
    if (!serial)
        return sio::NotOpen;
    if (parity != 0 || stopBits != 0 || dataBits != 8)
        return sio::BadParameter;
    serial->setParity(QSerialPort::NoParity);
    serial->setStopBits(QSerialPort::OneStop);
    serial->setDataBits(QSerialPort::Data8);
    return 0;
}

int SerialLibrary::sioBaud(int port, int baudCode)
{
    QSerialPort *serial = portAt(port);
    if (!serial)
        return sio::NotOpen;
    const int rate = sio::baudRate(baudCode);
    if (rate == 0)
        return sio::BadBaud;
    serial->setBaudRate(rate); // a pseudo-terminal ignores the rate
    return 0;
}

int SerialLibrary::sioDtr(int port, char cmd)
{
    QSerialPort *serial = portAt(port);
    if (!serial)
        return sio::NotOpen;
    if (cmd != 'S' && cmd != 'C')
        return sio::BadParameter;
    serial->setDataTerminalReady(cmd == 'S');
    return 0;
}

int SerialLibrary::sioRts(int port, char cmd)
{
    QSerialPort *serial = portAt(port);
    if (!serial)
        return sio::NotOpen;
    if (cmd != 'S' && cmd != 'C')
        return sio::BadParameter;
    serial->setRequestToSend(cmd == 'S');
    return 0;
}

int SerialLibrary::sioFlow(int port, char cmd)
{
    QSerialPort *serial = portAt(port);
    if (!serial)
        return sio::NotOpen;
    switch (cmd) {
    case 'N': serial->setFlowControl(QSerialPort::NoFlowControl); return 0;
    case 'H': serial->setFlowControl(QSerialPort::HardwareControl); return 0;
    case 'S': serial->setFlowControl(QSerialPort::SoftwareControl); return 0;
    default: return sio::BadParameter;
    }
}

int SerialLibrary::sioPuts(int port, const QByteArray &bytes)
{
    QSerialPort *serial = portAt(port);
    if (!serial)
        return sio::NotOpen;
    const qint64 n = serial->write(bytes);
    return n < 0 ? sio::SystemError : int(n);
}

QByteArray SerialLibrary::sioGets(int port, int max)
{
    QSerialPort *serial = portAt(port);
    if (!serial || max <= 0)
        return {};
    return serial->read(max);
}

int SerialLibrary::sioRxQue(int port) const
{
    QSerialPort *serial = portAt(port);
    return serial ? int(serial->bytesAvailable()) : sio::NotOpen;
}

int SerialLibrary::sioRxClear(int port)
{
    QSerialPort *serial = portAt(port);
    if (!serial)
        return sio::NotOpen;
    serial->clear(QSerialPort::Input);
    serial->readAll(); // what Qt had already taken from the device
    return 0;
}

int SerialLibrary::sioDone(int port)
{
    QSerialPort *serial = portAt(port);
    if (!serial)
        return sio::NotOpen;
    m_ports[size_t(port)] = nullptr;
    m_devices[size_t(port)].clear();
    serial->disconnect(this);
    // What was written just before (the log-off) is still in Qt's buffer; the
    // driver sends it out before the close completes.
    serial->flush();
    serial->close();
    delete serial;
    return 0;
}
