#include "app/commandline.h"

#include "core/version.h"

namespace {
// Options QApplication itself takes, with whether a value follows.
struct WindowOption {
    const char *name;
    bool hasValue;
};
constexpr WindowOption kWindowOptions[] = {
    {"-platform", true},  {"-platformpluginpath", true}, {"-platformtheme", true}, {"-plugin", true},
    {"-display", true},   {"-qwindowgeometry", true},    {"-qwindowtitle", true},  {"-qwindowicon", true},
    {"-style", true},     {"-stylesheet", true},         {"-reverse", false},      {"-session", true},
};

const WindowOption *windowOption(const QString &arg)
{
    for (const WindowOption &o : kWindowOptions)
        if (arg == QLatin1String(o.name) || arg == QLatin1Char('-') + QLatin1String(o.name))
            return &o;
    return nullptr;
}
} // namespace

CommandLine CommandLine::parse(const QStringList &arguments)
{
    CommandLine c;
    auto fail = [&c](const QString &text) {
        c.action = Error;
        c.error = text;
        return c;
    };
    bool help = false, version = false;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString a = arguments[i];
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            help = true;
        } else if (a == QLatin1String("--version")) {
            version = true;
        } else if (a == QLatin1String("--headless")) {
            c.headless = true;
        } else if (a == QLatin1String("--network-view")) {
            c.networkView = true;
        } else if (a == QLatin1String("--base") || a.startsWith(QLatin1String("--base="))) {
            QString value;
            if (a == QLatin1String("--base")) {
                if (i + 1 >= arguments.size())
                    return fail(QStringLiteral("option '--base' needs a directory"));
                value = arguments[++i];
            } else {
                value = a.mid(7);
            }
            if (value.isEmpty())
                return fail(QStringLiteral("option '--base' needs a directory"));
            c.baseDirectory = value;
        } else if (a == QLatin1String("--console-user") || a == QLatin1String("--level")) {
            if (i + 1 >= arguments.size() || arguments[i + 1].isEmpty())
                return fail(QStringLiteral("option '%1' needs a value").arg(a));
            (a == QLatin1String("--level") ? c.consoleLevel : c.consoleUser) = arguments[++i];
        } else if (a == QLatin1String("--delete")) {
            c.consoleDelete = true;
        } else if (const WindowOption *o = windowOption(a)) {
            c.windowOptions << a;
            if (o->hasValue) {
                if (i + 1 >= arguments.size())
                    return fail(QStringLiteral("option '%1' needs a value").arg(a));
                c.windowOptions << arguments[++i];
            }
        } else if (a.startsWith(QLatin1Char('-'))) {
            return fail(QStringLiteral("unknown option '%1'").arg(a));
        } else {
            return fail(QStringLiteral("unexpected argument '%1'").arg(a));
        }
    }
    if (c.headless && !c.windowOptions.isEmpty())
        return fail(QStringLiteral("option '%1' needs a window; it cannot go with '--headless'").arg(c.windowOptions.first()));
    if (!c.consoleUser.isEmpty()) {
        if (c.consoleDelete == !c.consoleLevel.isEmpty())
            return fail(QStringLiteral("'--console-user' needs either '--level LEVEL' or '--delete'"));
        if (!help && !version)
            c.action = ConsoleUser;
    } else if (c.consoleDelete || !c.consoleLevel.isEmpty()) {
        return fail(QStringLiteral("'--level' and '--delete' go with '--console-user NAME'"));
    }
    if (help)
        c.action = Help;
    else if (version)
        c.action = Version;
    return c;
}

QString CommandLine::helpText()
{
    return QStringLiteral(
        "Usage: tolva-server [--headless] [--base DIR]\n"
        "       tolva-server [--headless] [--base DIR] --network-view\n"
        "       tolva-server [--base DIR] --console-user NAME --level LEVEL\n"
        "       tolva-server [--base DIR] --console-user NAME --delete\n"
        "\n"
        "The Tolva station server: links to the monitoring units, their protocols,\n"
        "measurement logs and the relay servers for remote viewers.\n"
        "\n"
        "Options:\n"
        "  --base DIR    station directory holding CONFIG/, LOG/ and DLD/\n"
        "                (default: the current directory)\n"
        "  --headless    run without a window (as a service); message lines go to\n"
        "                standard error; SIGTERM or SIGINT stops the server\n"
        "  --network-view\n"
        "                no units and no relay servers: only show the station\n"
        "                network's fleet (CONFIG/Network.CFG) in the window and\n"
        "                the console\n"
        "  --console-user NAME --level LEVEL\n"
        "                add or change the console account NAME (LEVEL: Observer,\n"
        "                Operator or Supervisor); the password is read from the\n"
        "                terminal without echo, or from standard input\n"
        "  --console-user NAME --delete\n"
        "                remove the console account NAME\n"
        "  --version     print the version and exit\n"
        "  -h, --help    print this help and exit\n"
        "\n"
        "Without --headless the usual window opens; window-system options such as\n"
        "'-platform offscreen' are passed on to it.\n");
}

QString CommandLine::versionText()
{
    return QStringLiteral("tolva-server ") + QLatin1String(kProgramVersion) + QLatin1Char('\n');
}
