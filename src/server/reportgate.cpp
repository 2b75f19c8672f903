#include "server/reportgate.h"

#include <QLocale>
#include <algorithm>

namespace {

const QString kOther = QStringLiteral("other addresses");

} // namespace

QString ReportGate::summaryText(const QString &text, int more, const QString &address)
{
    // Grouped thousands, as an engineer reads a count: "1,234".
    return text + QStringLiteral(" \u2026 and ") + QLocale(QLocale::English).toString(more)
        + QStringLiteral(" more from ") + address + QStringLiteral(" in the last minute");
}

bool ReportGate::pass(const QString &address, const QString &kind, int level, const QDateTime &now)
{
    QString key = address + QLatin1Char('\n') + kind;
    auto it = m_entries.find(key);
    if (it != m_entries.end() && (now < it->since || it->since.msecsTo(now) >= kWindowMs) && it->held == 0) {
        m_entries.erase(it); // its minute is over and nothing was held back
        it = m_entries.end();
    }
    if (it == m_entries.end()) {
        if (m_entries.size() < kMaxTracked) {
            m_entries.insert(key, {now, 0, kind, level, address});
            return true;
        }
        key = kOther + QLatin1Char('\n') + kind;
        it = m_entries.find(key);
        if (it == m_entries.end())
            it = m_entries.insert(key, {now, 0, kind, level, kOther});
    }
    ++it->held;
    return false;
}

std::vector<ReportGate::Summary> ReportGate::due(const QDateTime &now)
{
    std::vector<std::pair<QDateTime, Summary>> out;
    for (auto it = m_entries.begin(); it != m_entries.end();) {
        if (!(now < it->since) && it->since.msecsTo(now) < kWindowMs) {
            ++it;
            continue;
        }
        if (it->held > 0)
            out.push_back({it->since, {summaryText(it->kind, it->held, it->address), it->level}});
        it = m_entries.erase(it);
    }
    std::stable_sort(out.begin(), out.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
    std::vector<Summary> summaries;
    for (auto &p : out)
        summaries.push_back(std::move(p.second));
    return summaries;
}

bool ReportGate::holding() const
{
    for (const Entry &e : m_entries) {
        if (e.held > 0)
            return true;
    }
    return false;
}
