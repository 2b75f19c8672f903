// The page's link: opening and closing the transport of its connection type
// (serial port, modem port, socket), the failures that end it, and the
// serial-port controls a session may need.
#include "connection/connectionpage.h"

#include "connection/reconnector.h"
#include "connection/session.h"
#include "core/messagelog.h"
#include "link/linereader.h"
#include "link/networklink.h"
#include "link/seriallibrary.h"
#include "link/seriallink.h"

// --- link -----------------------------------------------------------------------

bool ConnectionPage::isSerial() const
{
    return m_settings.connectionType != connection::Network;
}

bool ConnectionPage::serialDeviceMissing() const
{
    return isSerial() && !m_testLink && m_env.serial
        && m_env.serial->sioStatus(activeSerialPort(), 0) == sio::NoSuchPort;
}

int ConnectionPage::activeSerialPort() const
{
    return m_settings.connectionType == connection::Modem ? m_settings.modemPort : m_settings.serialPort;
}

void ConnectionPage::attachReader(ByteLink *link, int readLimit)
{
    m_link.setTarget(link);
    m_reader->attach(link, readLimit);
}

int ConnectionPage::openSerial(int port)
{
    m_baudCode = connectionsettings::baudCode(m_settings.hardwareType, m_settings.baudIndex, m_baudCode,
                                              m_settings.connectionType == connection::Modem);
    SerialLibrary &lib = *m_env.serial;
    const int result = lib.sioReset(port, 2048, 512);
    if (result < 0)
        return result;
    lib.sioParms(port, 0, 0, 8);
    const int baud = lib.sioBaud(port, m_baudCode);
    lib.sioDtr(port, 'S');
    lib.sioRts(port, 'S');
    lib.sioFlow(port, 'N');
    if (baud < 0) {
        // A rate the port cannot take leaves nothing usable open.
        lib.sioDone(port);
        return baud;
    }
    m_serialLink = std::make_unique<SerialLink>(lib, port);
    attachReader(m_serialLink.get(), 100);
    clearReceive();
    return 0;
}

void ConnectionPage::reportSerial(int code, const QString &detail)
{
    if (code == 0) {
        m_record.portOpen = true;
        return;
    }
    m_record.phase = 0;
    m_record.state = state::Error;
    QString text = QStringLiteral("COM Port Error(") + QString::number(-code) + QStringLiteral("): ")
        + sio::errorText(code);
    if (!detail.isEmpty())
        text += QStringLiteral(" (") + detail + QLatin1Char(')');
    logMessage(text, int(LogLevel::Error));
    m_record.portOpen = false;
    m_reconnector->linkFailed();
    wake();
}

void ConnectionPage::openLink()
{
    m_reconnector->linkOpening();
    m_record.portOpen = false;
    m_record.socketConnected = false;
    m_record.unitsChanged = 0;
    m_record.unitsShown = 0xFFFF;
    m_record.localHost.clear();
    m_record.localAddress.clear();
    m_record.localPort.clear();
    m_record.remoteAddress.clear();
    m_record.remotePort.clear();
    m_session->linkOpening();
    showHardware();
    showConnection();

    if (m_testLink) {
        attachReader(m_testLink, isSerial() ? 100 : kNetworkReadLimit);
        m_record.portOpen = true;
        m_record.socketConnected = !isSerial();
    } else if (isSerial()) {
        const int port = activeSerialPort();
        if (!m_env.serial) {
            reportSerial(sio::NoSuchPort);
        } else {
            const int status = m_env.serial->sioStatus(port, 0);
            if (status == sio::NotOpen) {
                const int code = openSerial(port);
                reportSerial(code, code == 0 ? QString() : m_env.serial->lastErrorDetail());
            } else {
                reportSerial(status == sio::NoSuchPort ? sio::NoSuchPort : sio::AlreadyOpen);
            }
        }
    } else {
        if (!m_network) {
            m_network = new NetworkLink(this);
            connect(m_network, &NetworkLink::connected, this, &ConnectionPage::onSocketConnected);
            connect(m_network, &NetworkLink::failed, this, &ConnectionPage::onSocketFailed);
            connect(m_network, &NetworkLink::readyRead, this, [this] {
                if (m_link.target() == m_network)
                    linkReadable();
            });
        }
        if (m_network->isActive())
            m_network->close();
        m_link.setTarget(nullptr);
        m_reader->detach();
        const QString host = m_settings.useHostName ? m_settings.hostName : QString();
        m_network->open(m_settings.ipAddress, quint16(qBound(0, m_settings.portNumber, 65535)), host);
    }
    m_record.detectStep = 0;
    m_record.phase = 1;
    wake();
}

void ConnectionPage::closeLink()
{
    m_reconnector->stop();
    releaseLink();
    m_record.state = state::Disconnected;
    m_record.phase = 0;
    m_record.portOpen = false;
    m_record.socketConnected = false;
    showConnection();
    setUpdateEnabled(false);
}

void ConnectionPage::releaseLink()
{
    if (m_testLink) {
        // nothing to release
    } else if (isSerial()) {
        // Only the port this page opened: a page refused with "Port already
        // opened." must not close the port of the page that holds it.
        if (m_serialLink && m_env.serial)
            m_env.serial->sioDone(static_cast<SerialLink *>(m_serialLink.get())->port());
    } else if (m_network && m_network->isActive()) {
        m_network->close();
    }
    m_reader->detach();
    m_link.setTarget(nullptr);
    m_serialLink.reset();
}

int ConnectionPage::setSerialBaud(int code)
{
    if (!m_serialLink || !m_env.serial)
        return 0;
    const int result = m_env.serial->sioBaud(static_cast<SerialLink *>(m_serialLink.get())->port(), code);
    if (result >= 0) {
        m_baudCode = code;
        showConnection();
    }
    return result;
}

void ConnectionPage::reconnect()
{
    if (m_record.portOpen)
        closeLink();
    openLink();
}

void ConnectionPage::onSocketConnected()
{
    m_record.socketConnected = true;
    m_record.portOpen = true;
    m_record.localAddress = m_network->localAddress();
    m_record.localHost = m_network->localHost();
    m_record.localPort = m_network->localPort();
    m_record.remoteAddress = m_network->remoteAddress();
    m_record.remotePort = m_network->remotePort();
    attachReader(m_network, kNetworkReadLimit);
    showConnection();
}

void ConnectionPage::onSocketFailed(int, const QString &message)
{
    m_record.phase = 0;
    m_record.state = state::Error;
    m_record.portOpen = false;
    logMessage(message, int(LogLevel::Error));
    m_reconnector->linkFailed();
    wake();
}

// Every page hears every port; only the one reading that port goes on.
void ConnectionPage::onSerialData(int port)
{
    if (m_serialLink && m_link.target() == m_serialLink.get()
        && static_cast<SerialLink *>(m_serialLink.get())->port() == port)
        linkReadable();
}

void ConnectionPage::onSerialFailed(int port, const QString &detail)
{
    if (!m_serialLink || static_cast<SerialLink *>(m_serialLink.get())->port() != port)
        return;
    m_reader->detach();
    m_link.setTarget(nullptr);
    m_serialLink.reset();
    m_record.phase = 0;
    m_record.state = state::Error;
    m_record.portOpen = false;
    logMessage(QStringLiteral("COM Port Error(") + QString::number(-sio::SystemError) + QStringLiteral("): ")
                   + sio::errorText(sio::SystemError) + QStringLiteral(" (") + detail + QLatin1Char(')'),
               int(LogLevel::Error));
    showConnection();
    m_reconnector->linkFailed();
    wake();
}

int ConnectionPage::setModemDtr(bool on)
{
    if (m_testLink || !m_env.serial)
        return 0;
    return m_env.serial->sioDtr(m_settings.modemPort, on ? 'S' : 'C');
}
