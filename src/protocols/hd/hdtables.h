#pragma once
// Names of the coded values the HD monitors and the KF-71 report: inputs,
// test signals, monitor sources, alarms, genres and programme types, as the
// units' own texts. For presenting decoded values; the engine itself relays
// and decodes numbers only.
#include <QString>

namespace hdtables {

enum class Table {
    // HD monitors
    RfInput,
    TestSignal,
    DisplayMode,
    TimeValue,
    OffOn,
    Timer,
    CompositeMode,
    MonitorSource,
    AlarmName,
    Genre,
    ProgrammeType,
    // KF-71 (its test signal, time value and alarm name tables are the HD ones)
    KfRfInput,
    KfReceptionMode,
    KfCompositeModeShort,
    KfMonitorSource,
    KfCompositeMode,
    KfTestSignal,
    KfTimeValue,
    KfAlarmName,
};

// The text of code `index`; an empty text for a code the table does not name
// (negative or past its end), so a unit reporting a newer code shows a blank.
QString text(Table table, int index);

// Number of codes the table names.
int size(Table table);

} // namespace hdtables
