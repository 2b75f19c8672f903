#pragma once
// Keeps what remote clients cause from flooding the message window: of each
// kind of line, one per address a minute gets through; the rest are counted
// and, when the minute is over, told in one summary line ("... and 1,234
// more from ADDRESS in the last minute"). Lines of units and pages do not
// pass through here and are never held back.
// Time comes from the caller (the server's clock).
#include <QDateTime>
#include <QHash>
#include <QString>
#include <vector>

class ReportGate {
public:
    static constexpr qint64 kWindowMs = 60000;
    // Address-and-kind pairs remembered at once; past this, lines of new
    // pairs are counted together under "other addresses".
    static constexpr int kMaxTracked = 1000;

    struct Summary {
        QString text; // the summary line's text (the kind's, as given), ready for the message log
        int level = 0;
    };

    // True when the line may be written now; otherwise it is counted.
    // `kind` groups lines and names them in the summary ("Failed login",
    // "Socket Error(10054): ..."); `level` is the lines' level.
    bool pass(const QString &address, const QString &kind, int level, const QDateTime &now);
    // Summaries of the minutes that are over, oldest first; their entries
    // are forgotten.
    std::vector<Summary> due(const QDateTime &now);
    // True while lines are counted that no summary has told yet.
    bool holding() const;
    int tracked() const { return int(m_entries.size()); }

    static QString summaryText(const QString &text, int more, const QString &address);

private:
    struct Entry {
        QDateTime since; // the line that got through
        int held = 0;
        QString kind;
        int level = 0;
        QString address;
    };
    QHash<QString, Entry> m_entries;
};
