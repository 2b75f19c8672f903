#include "connection/connectionpage.h"

#include "connection/measurementlog.h"
#include "connection/reconnector.h"
#include "connection/session.h"
#include "core/clock.h"
#include "core/messagelog.h"
#include "core/sharedtimer.h"
#include "link/linereader.h"
#include "link/networklink.h"
#include "link/seriallibrary.h"
#include "link/seriallink.h"
#include "update/updatemachine.h"

ConnectionPage::ConnectionPage(int number, const Environment &env, QObject *parent)
    : QObject(parent), m_number(number), m_env(env), m_reader(std::make_unique<LineReader>()),
      m_measurementLog(std::make_unique<MeasurementLog>(number)),
      m_reconnector(std::make_unique<Reconnector>(*this)), m_timer(std::make_unique<SharedTimer>([this] { tick(); }))
{
    setObjectName(connectionsettings::pageName(number));
    m_settings = ConnectionSettings::defaults(number, env.baseDirectory);
    m_timer->setInterval(kStartInterval);
    if (m_env.serial)
        connect(m_env.serial, &SerialLibrary::portFailed, this, &ConnectionPage::onSerialFailed);
    ensureSession();
}

ConnectionPage::~ConnectionPage()
{
    m_timer->stop();
    m_reader->detach();
}

void ConnectionPage::ensureSession()
{
    if (m_session && m_sessionType == m_settings.hardwareType)
        return;
    m_session = createSession(m_settings.hardwareType, *this);
    m_sessionType = m_settings.hardwareType;
}

// --- settings -----------------------------------------------------------------

void ConnectionPage::resetRunTime()
{
    m_record = ConnectionRecord();
    m_store.reset();
    m_reader->clearReceive();
    m_measurementLog->close();
    m_baudCode = connectionsettings::baudCode(m_settings.hardwareType, m_settings.baudIndex, m_baudCode);
}

bool ConnectionPage::loadSettings(QString *error)
{
    ConnectionSettings loaded;
    QString reason;
    const bool ok = connectionsettings::load(m_env.baseDirectory, m_number, loaded, &reason);
    // The fields read before a bad line are taken even when the page does not start.
    m_settings = loaded;
    ensureSession();
    emit settingsChanged();
    if (!ok) {
        m_started = false;
        m_timer->stop();
        if (error)
            *error = reason;
        return false;
    }
    resetRunTime();
    m_thirdColumn = m_session->hardwareThirdColumn();
    showConnection();
    showHardware();
    m_timer->setInterval(kStartInterval);
    m_timer->start();
    m_started = true;
    if (m_settings.autoConnect)
        openLink();
    if (m_settings.logEnabled)
        openLog();
    return true;
}

bool ConnectionPage::saveSettings(QString *error)
{
    return connectionsettings::save(m_env.baseDirectory, m_number, m_settings, error);
}

void ConnectionPage::setSettings(const ConnectionSettings &s)
{
    m_settings = s;
    ensureSession();
    m_baudCode = connectionsettings::baudCode(m_settings.hardwareType, m_settings.baudIndex, m_baudCode);
    m_thirdColumn = m_session->hardwareThirdColumn();
    m_record.unitsShown = 0xFFFF;
    showHardware();
    showConnection();
    emit settingsChanged();
}

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
    m_link = link;
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
    m_record.frameCutter.clear();
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
                if (m_link == m_network)
                    m_session->onSocketRead();
            });
        }
        if (m_network->isActive())
            m_network->close();
        m_link = nullptr;
        m_reader->detach();
        const QString host = m_settings.useHostName ? m_settings.hostName : QString();
        m_network->open(m_settings.ipAddress, quint16(qBound(0, m_settings.portNumber, 65535)), host);
    }
    m_record.detectStep = 0;
    m_record.phase = 1;
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
    m_link = nullptr;
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
}

void ConnectionPage::onSerialFailed(int port, const QString &detail)
{
    if (!m_serialLink || static_cast<SerialLink *>(m_serialLink.get())->port() != port)
        return;
    m_reader->detach();
    m_link = nullptr;
    m_serialLink.reset();
    m_record.phase = 0;
    m_record.state = state::Error;
    m_record.portOpen = false;
    logMessage(QStringLiteral("COM Port Error(") + QString::number(-sio::SystemError) + QStringLiteral("): ")
                   + sio::errorText(sio::SystemError) + QStringLiteral(" (") + detail + QLatin1Char(')'),
               int(LogLevel::Error));
    showConnection();
    m_reconnector->linkFailed();
}

void ConnectionPage::sendText(const QByteArray &bytes)
{
    if (m_link)
        m_link->send(bytes);
}

QByteArray ConnectionPage::readMarked() { return m_reader->readMarked(); }
QByteArray ConnectionPage::readMarkedOrPollEnd() { return m_reader->readMarkedOrPollEnd(); }
QByteArray ConnectionPage::readCrLf() { return m_reader->readCrLf(); }
QByteArray ConnectionPage::readCr() { return m_reader->readCr(); }
void ConnectionPage::clearReceive() { m_reader->clearReceive(); }
bool ConnectionPage::lineComplete() const { return m_reader->lineComplete(); }
const QByteArray &ConnectionPage::receiveText() const { return m_reader->receiveText(); }

QByteArray ConnectionPage::readFrameBytes(int serialMax)
{
    if (!m_link)
        return {};
    QByteArray bytes = m_link->readSome(isSerial() ? serialMax : kNetworkReadLimit);
    m_record.bytesReceived += quint64(bytes.size());
    return bytes;
}

int ConnectionPage::bytesWaiting() const
{
    return m_link ? m_link->bytesWaiting() : 0;
}

int ConnectionPage::setModemDtr(bool on)
{
    if (m_testLink || !m_env.serial)
        return 0;
    return m_env.serial->sioDtr(m_settings.modemPort, on ? 'S' : 'C');
}

// --- timer ----------------------------------------------------------------------

void ConnectionPage::setInterval(int ms)
{
    m_timer->setInterval(ms);
}

int ConnectionPage::interval() const
{
    return m_timer->interval();
}

bool ConnectionPage::timerActive() const
{
    return m_timer->isActive();
}

void ConnectionPage::stopTimer()
{
    m_timer->stop();
}

void ConnectionPage::tick()
{
    m_session->tick();
    m_reconnector->check();
}

// --- display --------------------------------------------------------------------

QString ConnectionPage::hardwareCaption(int hardwareType)
{
    switch (hardwareType) {
    case hardware::Arx: return QStringLiteral("Arxon System");
    case hardware::Kx71: return QStringLiteral(" KX-71  ");
    case hardware::Hd: return QStringLiteral(" HD System  ");
    case hardware::Kf71: return QStringLiteral(" KF-71 System ");
    default: return QString();
    }
}

void ConnectionPage::showConnection()
{
    const QString status(8, QLatin1Char(' '));
    const QString serialInfo = QStringLiteral("   ") + connectionsettings::baudText(m_baudCode)
        + QStringLiteral("   8-N-1");
    QList<ConnectionRow> rows;
    switch (m_settings.connectionType) {
    case connection::Serial:
        rows << ConnectionRow{QStringLiteral("RS-232"),
                              QStringLiteral("COM") + QString::number(m_settings.serialPort + 1) + serialInfo, status};
        break;
    case connection::Network:
        rows << ConnectionRow{QStringLiteral("Network Local"),
                              m_record.localHost + QLatin1Char(' ') + m_record.localAddress + QStringLiteral("  ")
                                  + m_record.localPort,
                              status};
        rows << ConnectionRow{QStringLiteral("Network Remote"),
                              QLatin1Char(' ') + m_record.remoteAddress + QStringLiteral("  ") + m_record.remotePort,
                              status};
        break;
    case connection::Modem:
        rows << ConnectionRow{QStringLiteral("MODEM"),
                              QStringLiteral("COM") + QString::number(m_settings.modemPort + 1) + serialInfo, status};
        break;
    default:
        break;
    }
    m_connectionRows = rows;
    emit connectionRowsChanged();
    // Only the periodic refresh counts frames as shown; a rebuilt list must
    // not make a live link look inactive at the next refresh.
    writeState(false);
}

void ConnectionPage::showHardware()
{
    if (m_record.unitsShown == quint16(m_record.unitsChanged & 0xFFFF))
        return;
    const QString caption = hardwareCaption(m_settings.hardwareType);
    m_thirdColumn = m_session->hardwareThirdColumn();
    QList<HardwareRow> rows = m_session->hardwareRows();
    if (rows.isEmpty())
        rows << HardwareRow{caption, QStringLiteral("N/A"), QStringLiteral("N/A"), QStringLiteral("N/A")};
    m_hardwareRows = rows;
    m_record.unitsShown = quint16(m_record.unitsChanged & 0xFFFF);
    emit hardwareRowsChanged();
}

void ConnectionPage::showState()
{
    writeState(true);
}

void ConnectionPage::writeState(bool countShown)
{
    QString text;
    switch (m_record.state) {
    case state::Disconnected: text = QStringLiteral("Disconnected"); break;
    case state::Connecting: text = QStringLiteral("Connecting"); break;
    case state::Downloading: text = QStringLiteral("Downloading"); break;
    case state::Data:
        // More frames than a unit sends in one refresh still means the link is alive.
        text = m_record.framesSinceShown == 0 ? QStringLiteral("InActive") : QStringLiteral(" Active ");
        if (countShown)
            m_record.framesSinceShown = 0;
        break;
    case state::Initializing: text = QStringLiteral("Initializing"); break;
    case state::Dialing: text = QStringLiteral("Dialing"); break;
    case state::Password: text = QStringLiteral("Password "); break;
    case state::Updating: text = QStringLiteral("Updating "); break;
    case state::Error: text = QStringLiteral("Error"); break;
    default: break;
    }
    m_stateText = text;
    if (!m_connectionRows.isEmpty())
        m_connectionRows[0].status = text;
    emit stateTextChanged(text);
}

void ConnectionPage::setUpdateEnabled(bool on)
{
    if (m_updateEnabled == on)
        return;
    m_updateEnabled = on;
    emit updateEnabledChanged(on);
}

// --- messages and measurement log -------------------------------------------------

void ConnectionPage::logMessage(const QString &text, int level)
{
    if (m_env.log)
        m_env.log->log(objectName(), text, level);
}

void ConnectionPage::reportLogFailure(const QString &error)
{
    ++m_record.logFailures;
    logMessage(QStringLiteral("Log file error: ") + error, int(LogLevel::Error));
    emit errorRaised(error);
}

void ConnectionPage::openLog()
{
    QString error;
    if (!m_measurementLog->open(m_settings.hardwareType, m_settings.logDirectory, m_settings.logPrefix,
                                m_env.clock->now(), &error))
        reportLogFailure(error);
}

void ConnectionPage::logArxRecord(const QByteArray &frameText, const QDateTime &stamp)
{
    QString error;
    if (!m_measurementLog->logArxRecord(frameText, stamp, m_env.clock->now(), m_settings.logEnabled, &error))
        reportLogFailure(error);
    reportLogResumed();
}

void ConnectionPage::reportLogResumed()
{
    if (m_measurementLog->takeResumed())
        logMessage(QStringLiteral("Log file resumed: ") + m_measurementLog->fileName(), int(LogLevel::Status));
}

void ConnectionPage::logHdLine(std::optional<qint32> totalLevel)
{
    QString error;
    if (!m_measurementLog->logHdLine(m_env.clock->now(), totalLevel, m_settings.logEnabled, &error))
        reportLogFailure(error);
    reportLogResumed();
}

void ConnectionPage::closeLog()
{
    m_measurementLog->close();
}

void ConnectionPage::fileRecord(RecordKind kind, const QByteArray &record)
{
    ++m_record.framesFiled;
    m_record.lastFrameMs = m_env.clock->now().toMSecsSinceEpoch();
    m_store.fileRecord(kind, record);
}

// --- buttons ----------------------------------------------------------------------

void ConnectionPage::connectButton()
{
    m_session->connectButton();
}

void ConnectionPage::disconnectButton()
{
    m_reconnector->stop();
    m_session->disconnectButton();
}

void ConnectionPage::requestShutdown()
{
    m_reconnector->stop();
    m_session->requestShutdown();
}

void ConnectionPage::startPasswordChange()
{
    m_session->startPasswordChange();
}

UpdateMachine &ConnectionPage::updateMachine()
{
    if (!m_updateMachine)
        m_updateMachine = new UpdateMachine(*this, this);
    return *m_updateMachine;
}

// --- RelaySource --------------------------------------------------------------------

QByteArray ConnectionPage::kxStoredFrame(char selector) const
{
    return m_session->kxStoredFrame(selector);
}

bool ConnectionPage::queueUnitCommand(const QByteArray &text)
{
    return m_session->queueUnitCommand(text);
}

void ConnectionPage::setTestLink(ByteLink *link)
{
    m_testLink = link;
}
