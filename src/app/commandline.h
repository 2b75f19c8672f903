#pragma once
// The program's command line, read before any application object exists so
// that --help, --version and mistakes need no display.
#include <QString>
#include <QStringList>

struct CommandLine {
    enum Action { Run, Help, Version, Error, ConsoleUser };
    Action action = Run;
    bool headless = false;
    bool networkView = false; // only the station network's fleet
    QString baseDirectory;   // empty: the current directory
    QString error;           // Action Error: what was wrong
    // Options for the window system (-platform offscreen ...), left in argv
    // for QApplication; refused with --headless, which has none.
    QStringList windowOptions;
    // --console-user NAME with --level LEVEL (add or change) or --delete.
    QString consoleUser;
    QString consoleLevel;
    bool consoleDelete = false;

    static CommandLine parse(const QStringList &arguments);
    static QString helpText();
    static QString versionText();
};
