// GET /metrics in the Prometheus text format, from the read model.
#include "console/consoleserver.h"

#include "report/stationreport.h"
#include "server/relayservers.h"
#include "station/station.h"

#include <QDir>
#include <QFile>

#include <unistd.h>

namespace {

class Writer {
public:
    void family(const char *name, const char *type, const char *help)
    {
        m_text += QByteArray("# HELP ") + name + ' ' + help + "\n# TYPE " + name + ' ' + type + '\n';
    }
    void sample(const char *name, const QByteArray &labels, double value)
    {
        m_text += name;
        if (!labels.isEmpty())
            m_text += '{' + labels + '}';
        m_text += ' ' + QByteArray::number(value, 'g', 17) + '\n';
    }
    QByteArray text() const { return m_text; }

private:
    QByteArray m_text;
};

QByteArray label(const char *name, int value)
{
    return QByteArray(name) + "=\"" + QByteArray::number(value) + '"';
}

double residentBytes()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toDouble() * double(::sysconf(_SC_PAGESIZE)) : 0;
}

} // namespace

ConsoleServer::Reply ConsoleServer::metrics() const
{
    Writer w;
    QList<report::PageRecord> pages;
    for (int n = 1; n <= Station::kPages; ++n)
        pages << m_report.page(n);
    QList<report::ServerRecord> servers;
    for (int n = 1; n <= RelayServers::kCount; ++n)
        servers << m_report.server(n);
    const QDateTime now = m_report.now();

    w.family("tolva_page_link_up", "gauge", "1 while the page's link is open");
    for (const auto &p : pages)
        w.sample("tolva_page_link_up", label("page", p.number), p.open ? 1 : 0);
    w.family("tolva_page_state", "gauge", "Session state code (0 Disconnected, 3 data, 99 Error, ...)");
    for (const auto &p : pages)
        w.sample("tolva_page_state", label("page", p.number), p.state);
    w.family("tolva_page_frames_filed_total", "counter", "Frames filed since start");
    for (const auto &p : pages)
        w.sample("tolva_page_frames_filed_total", label("page", p.number), double(p.counters.framesFiled));
    w.family("tolva_page_bytes_received_total", "counter", "Bytes taken by the page's frame receiver");
    for (const auto &p : pages)
        w.sample("tolva_page_bytes_received_total", label("page", p.number), double(p.counters.bytesReceived));
    w.family("tolva_page_bad_frames_total", "counter", "Frames that failed their check or came incomplete");
    for (const auto &p : pages)
        w.sample("tolva_page_bad_frames_total", label("page", p.number), double(p.counters.badFrames));
    w.family("tolva_page_seconds_since_last_frame", "gauge", "Seconds since the last frame (absent before the first)");
    for (const auto &p : pages)
        if (p.counters.lastFrameAt.isValid())
            w.sample("tolva_page_seconds_since_last_frame", label("page", p.number),
                     p.counters.lastFrameAt.msecsTo(now) / 1000.0);
    w.family("tolva_measurement_log_write_failures_total", "counter", "Measurement log failures reported");
    for (const auto &p : pages)
        w.sample("tolva_measurement_log_write_failures_total", label("page", p.number), double(p.counters.logFailures));

    w.family("tolva_server_enabled", "gauge", "1 while the relay server listens");
    for (const auto &s : servers)
        w.sample("tolva_server_enabled", label("server", s.number), s.enabled ? 1 : 0);
    w.family("tolva_server_clients", "gauge", "Clients connected to the relay server");
    for (const auto &s : servers)
        w.sample("tolva_server_clients", label("server", s.number), double(s.clients.size()));
    w.family("tolva_server_records_delivered_total", "counter", "Records handed to viewers");
    for (const auto &s : servers)
        w.sample("tolva_server_records_delivered_total", label("server", s.number), double(s.recordsDelivered));
    w.family("tolva_server_viewers_dropped_total", "counter", "Viewers closed for not reading their data");
    for (const auto &s : servers)
        w.sample("tolva_server_viewers_dropped_total", label("server", s.number), double(s.viewersDropped));
    w.family("tolva_server_failed_logins_total", "counter", "Failed relay log-ins");
    for (const auto &s : servers)
        w.sample("tolva_server_failed_logins_total", label("server", s.number), double(s.failedLogins));

    w.family("tolva_process_start_time_seconds", "gauge", "Start of the program, seconds since the epoch");
    w.sample("tolva_process_start_time_seconds", {}, m_report.startedAt().toMSecsSinceEpoch() / 1000.0);
    w.family("tolva_process_resident_memory_bytes", "gauge", "Resident memory");
    w.sample("tolva_process_resident_memory_bytes", {}, residentBytes());
    w.family("tolva_process_open_fds", "gauge", "Open file descriptors");
    w.sample("tolva_process_open_fds", {},
             double(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size()));
    w.family("tolva_console_live_clients", "gauge", "WebSocket clients of the console");
    w.sample("tolva_console_live_clients", {}, double(m_live.size()));
    return Reply{200, "text/plain; version=0.0.4; charset=utf-8", w.text() + alarmMetrics(), {}};
}
