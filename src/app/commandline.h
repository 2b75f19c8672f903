#pragma once
// The program's command line, read before any application object exists so
// that --help, --version and mistakes need no display.
#include <QString>
#include <QStringList>

struct CommandLine {
    enum Action { Run, Help, Version, Error };
    Action action = Run;
    bool headless = false;
    QString baseDirectory;   // empty: the current directory
    QString error;           // Action Error: what was wrong
    // Options for the window system (-platform offscreen ...), left in argv
    // for QApplication; refused with --headless, which has none.
    QStringList windowOptions;

    static CommandLine parse(const QStringList &arguments);
    static QString helpText();
    static QString versionText();
};
