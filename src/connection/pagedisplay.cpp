// What the page shows: the connection row, the hardware rows its session
// reports, the state text and the Update button.
#include "connection/connectionpage.h"

#include "connection/session.h"

// --- display --------------------------------------------------------------------

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
