// tolva-unitsim: a monitoring unit (and optionally a modem in front of it) on
// a pseudo-terminal or a TCP port, for tests, demos and trying a station's
// settings without the hardware.
#include "arxunit.h"
#include "hayesmodem.h"
#include "kxunit.h"
#include "hdunit.h"
#include "loaderunit.h"
#include "trace.h"
#include "transport.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStringList>

#include <csignal>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

const char helpText[] = R"(tolva-unitsim - a simulated monitoring unit for the station server

Runs a unit on a pseudo-terminal (looks like a serial port) or on a TCP port
(looks like a unit's network module), so that a station can be set up and
tried without hardware. An Arxon unit answers the server's log-in, identify and
download commands and each poll with a 100-byte data frame (an HD monitor or
KF-71: see its own section below). Byte 99 of each frame, which the server
does not decode, counts the frames (0-255 and round again), so that no two
neighbouring frames are alike. The simulator keeps running
until stopped (Ctrl+C). One caller at a time; after a caller hangs up (closes
the port or the socket) the next one is served.

What the unit keeps: a password changed with "Change Password" holds until
the simulator exits; a downloaded program stays loaded for later callers.
Setting commands passed on by a relay server appear in the setting echo of
the model's own module in the next frame (value commands under the parameter
named by their first argument, other commands under their own code).

LINE (choose one)
  --pty               Open a pseudo-terminal. Prints "PTY <path>", e.g.
                      "PTY /dev/pts/7". To use it as COM1, put the path on
                      line 1 of CONFIG/SerialPorts.CFG in the server's start
                      directory; that file holds nine lines (CR LF), line n
                      being the device path of COMn. Then choose "RS-232 -
                      Serial", COM1, in the connection's configuration.
                      A pty has no DTR line: closing the port is what hangs
                      up the caller (and the modem, with --modem).
                        tolva-unitsim --pty --link /tmp/arx1
  --link PATH         With --pty: also make PATH a symbolic link to the
                      device, so SerialPorts.CFG can name a fixed path
                      (line 1: /tmp/arx1). The link is removed on exit.
  --tcp PORT          Listen on TCP PORT. Prints "TCP <port>"; --tcp 0 picks
                      a free port. Choose "Network - Ethernet" with address
                      127.0.0.1 and that port.
                        tolva-unitsim --tcp 10001
  --bind ADDRESS      With --tcp: address to listen on (default 127.0.0.1;
                      0.0.0.0 to let other computers connect).

UNIT
  --unit KIND         The kind of unit on the line: arx (default), the Arxon
                      system with its modules; kh71, kh72 (HD monitors) or
                      kf71 (see HD MONITORS AND KF-71 below); kx71, the KX-71
                      analyzer (see KX-71 ANALYZER below); loader, an HD/KF-71
                      unit's program loader alone (see LOADER).
  --model ID          KM71 (default), KS71, KR71, KC71, KV71, KV73, KV75,
                      KA71 or KA72. Chooses the frame layout: FM (KM/KS/KR/
                      KC), TV (KV), AM (KA71, KA72).
                        tolva-unitsim --tcp 0 --model KV75
  --id TEXT           Answer identify with TEXT instead of the model id
                      (e.g. to try a model without a download file).
  --modules LIST      Modules fitted beside the model's own, comma separated:
                      km71, ks71, kr71, kc71 (both channels), option, kv73,
                      kv75, ka71, ka72. Modules of another layout are ignored.
                        tolva-unitsim --pty --modules km71,ks71,kc71,option
  --password TEXT[:LEVEL]
                      A password the unit accepts (repeatable). LEVEL is
                      SUPERVISOR, OPERATOR or OBSERVER (default: --level).
                      Default password: KELPO4.
                        --password KELPO4 --password LOOK:OBSERVER
  --level LEVEL       Level granted by passwords given without one
                      (default SUPERVISOR). Only a supervisor may change a
                      password.
  --reply-end marker|ff
                      What ends the VALID, identity and checksum answers:
                      the two bytes F0 F1 (default) or the single byte FF.
  --loaded            The unit already holds its program: the first download
                      check answers GOOD CHECKSUM (default: BAD CHECKSUM,
                      so the server downloads the .DLD file).
  --bad-checksums N   Answer BAD CHECKSUM N times to each download line
                      before GOOD CHECKSUM (4 or more makes the server give
                      up).
  --final-check-bad   Never confirm a completed download.
  --interleave        FM models: send each record as a sub-type 11 and a
                      sub-type 10 frame with auxiliary words between; the
                      last auxiliary word counts the frames.
  --history-every N   Set the history bit in every N-th frame (default 10,
                      0 = never).
  --reply-delay MS    Answer each command MS milliseconds late (default 0).
  --silent            Receive but never answer (a unit switched off).

)";

const char helpTextEnd[] = R"(MODEM
  --modem             Put a Hayes modem in front of the unit: command mode
                      with echo (ATE1), "OK" to each AT line, "CONNECT 2400"
                      after ATDT<number>, then bytes pass to the unit.
                      Choose "MODEM" and the COM port of the pty.
                        tolva-unitsim --pty --link /tmp/modem1 --modem
  --modem-silent      The modem answers nothing, not even an echo.
  --modem-echo-only   The modem echoes but never answers OK (it still
                      answers the dial).
  --modem-dial-result TEXT
                      Answer to ATDT instead of "CONNECT 2400", e.g. BUSY or
                      "NO CARRIER" (only CONNECT... goes on line).
  --modem-connect-delay MS
                      Time from ATDT to the dial answer (default 300).

RECORD
  --trace FILE        Append one line per command received and per answer
                      sent, stamped hh:mm:ss.zzz:
                        RX <hex bytes> <name>      e.g. "RX 03 FE wake"
                        TX <hex bytes> <name>
                        FRAME <days> <hex>         one per data frame sent:
                          <days> = send time as days since 1899-12-30, local
                          time (17 significant digits), <hex> = its 100 bytes
                        NOTE <text>                callers, modem events
  --help              This text.

EXAMPLES
  A KM-71 with KS-71 and KC-71 on COM1 of a station server:
    tolva-unitsim --pty --link /tmp/com1 --modules ks71,kc71
    (CONFIG/SerialPorts.CFG line 1: /tmp/com1)
  A KA-72 behind a dial-up modem, traced:
    tolva-unitsim --pty --link /tmp/com2 --model KA72 --modem --trace ka72.log
  A network KV-73 that needs three tries per download line:
    tolva-unitsim --tcp 10001 --model KV73 --bad-checksums 3
)";

int signalPipe[2] = {-1, -1};

void onSignal(int)
{
    const char c = 1;
    [[maybe_unused]] const auto n = ::write(signalPipe[1], &c, 1);
}

[[noreturn]] void usageError(const QString &message)
{
    std::fprintf(stderr, "tolva-unitsim: %s\n(see --help)\n", qPrintable(message));
    std::exit(2);
}

int intValue(const QString &text, const char *option, int min, int max)
{
    bool ok = false;
    const int v = text.toInt(&ok);
    if (!ok || v < min || v > max)
        usageError(QStringLiteral("%1 wants a number from %2 to %3, not \"%4\"").arg(QLatin1String(option)).arg(min).arg(max).arg(text));
    return v;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();

    arxsim::ArxOptions arx;
    kxsim::KxOptions kx;
    hdsim::LineOptions line;
    hdsim::LoaderOptions loader;
    ModemOptions modem;
    bool useModem = false, usePty = false;
    int tcpPort = -1;
    QString linkPath, tracePath, bind = QStringLiteral("127.0.0.1");
    int defaultLevel = LevelSupervisor;
    QStringList passwordTexts;
    QString unitKind = QStringLiteral("arx");

    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        auto value = [&]() -> QString {
            if (i + 1 >= args.size())
                usageError(a + QStringLiteral(" needs a value"));
            return args[++i];
        };
        if (a == QLatin1String("--help") || a == QLatin1String("-h")) {
            std::fputs(helpText, stdout);
            std::fputs(hdsim::helpSection(), stdout);
            std::fputs(helpTextEnd, stdout);
            std::fputs(kxsim::helpText, stdout);
            std::fputs(hdsim::loaderHelp, stdout);
            return 0;
        } else if (a == QLatin1String("--pty")) {
            usePty = true;
        } else if (a == QLatin1String("--link")) {
            linkPath = value();
        } else if (a == QLatin1String("--tcp")) {
            tcpPort = intValue(value(), "--tcp", 0, 65535);
        } else if (a == QLatin1String("--bind")) {
            bind = value();
        } else if (a == QLatin1String("--unit")) {
            unitKind = value().toLower();
            if (unitKind != QLatin1String("arx") && unitKind != QLatin1String("kx71")
                && unitKind != QLatin1String("loader") && !hdsim::lineUnitKind(unitKind, &line.model))
                usageError(QStringLiteral("unknown unit kind \"%1\"; known: arx, kx71, kh71, kh72, kf71, loader").arg(unitKind));
        } else if (a == QLatin1String("--model")) {
            arx.model = value().toUpper().remove(QLatin1Char('-')).toLatin1();
            arxsim::ModelInfo info;
            if (!arxsim::modelInfo(arx.model, &info))
                usageError(QStringLiteral("unknown model; use one of ") + arxsim::knownModelIds().join(QLatin1Char(' ')));
        } else if (a == QLatin1String("--id")) {
            arx.idText = value().toLatin1().left(64);
        } else if (a == QLatin1String("--modules")) {
            if (!arxsim::parseModules(value(), &arx.modules))
                usageError(QStringLiteral("unknown module in --modules"));
        } else if (a == QLatin1String("--password")) {
            passwordTexts << value();
        } else if (a == QLatin1String("--level")) {
            defaultLevel = parseLevel(value());
            if (defaultLevel == LevelNone)
                usageError(QStringLiteral("--level wants SUPERVISOR, OPERATOR or OBSERVER"));
        } else if (a == QLatin1String("--reply-end")) {
            const QString v = value().toLower();
            if (v == QLatin1String("marker"))
                arx.replyEnd = "\xF0\xF1";
            else if (v == QLatin1String("ff"))
                arx.replyEnd = "\xFF";
            else
                usageError(QStringLiteral("--reply-end wants marker or ff"));
        } else if (a == QLatin1String("--loaded")) {
            arx.loaded = true;
        } else if (a == QLatin1String("--final-check-bad")) {
            arx.finalCheckBad = true;
        } else if (a == QLatin1String("--bad-checksums")) {
            arx.badChecksumsPerLine = intValue(value(), "--bad-checksums", 0, 1000);
        } else if (a == QLatin1String("--interleave")) {
            arx.interleaved = true;
        } else if (a == QLatin1String("--history-every")) {
            arx.historyEvery = intValue(value(), "--history-every", 0, 1000000);
        } else if (a == QLatin1String("--reply-delay")) {
            arx.replyDelayMs = intValue(value(), "--reply-delay", 0, 600000);
        } else if (a == QLatin1String("--silent")) {
            arx.silent = true;
        } else if (a == QLatin1String("--modem")) {
            useModem = true;
        } else if (a == QLatin1String("--modem-silent")) {
            useModem = modem.silent = true;
        } else if (a == QLatin1String("--modem-echo-only")) {
            useModem = modem.echoOnly = true;
        } else if (a == QLatin1String("--modem-dial-result")) {
            modem.dialResult = value().toLatin1().left(64);
            useModem = true;
        } else if (a == QLatin1String("--modem-connect-delay")) {
            modem.connectDelayMs = intValue(value(), "--modem-connect-delay", 0, 600000);
            useModem = true;
        } else if (a.startsWith(QLatin1String("--kx-"))) {
            QString why;
            if (!kxsim::parseOption(a, value, &kx, &why))
                usageError(why);
        } else if (a == QLatin1String("--trace")) {
            tracePath = value();
        } else if (QString error; hdsim::takeOption(a, value, &line, &error)) {
            if (!error.isEmpty())
                usageError(error);
        } else if (QString loaderError; hdsim::parseLoaderOption(args, i, &loader, &loaderError)) {
            if (!loaderError.isEmpty())
                usageError(loaderError);
        } else {
            usageError(QStringLiteral("unknown option ") + a);
        }
    }
    if (usePty == (tcpPort >= 0))
        usageError(QStringLiteral("choose one line: --pty or --tcp PORT"));
    if (!linkPath.isEmpty() && !usePty)
        usageError(QStringLiteral("--link goes with --pty"));
    for (const QString &p : passwordTexts) {
        const int colon = p.lastIndexOf(QLatin1Char(':'));
        int level = colon >= 0 ? parseLevel(p.mid(colon + 1)) : LevelNone;
        const QString text = level != LevelNone ? p.left(colon) : p;
        if (level == LevelNone)
            level = defaultLevel;
        arx.passwords.append({text.toLatin1(), level});
    }
    if (arx.passwords.isEmpty())
        arx.passwords.append({QByteArray("KELPO4"), defaultLevel});

    std::unique_ptr<Trace> trace;
    if (!tracePath.isEmpty()) {
        trace = std::make_unique<Trace>(tracePath);
        if (!trace->isOpen())
            usageError(QStringLiteral("cannot write the trace file ") + tracePath);
        setGlobalTrace(trace.get());
    }

    Unit *unit = nullptr;
    if (unitKind == QLatin1String("arx")) {
        unit = new arxsim::ArxUnit(arx, &app);
    } else if (unitKind == QLatin1String("kx71")) {
        kx.silent = arx.silent;
        kx.replyDelayMs = arx.replyDelayMs;
        unit = new kxsim::KxUnit(kx, &app);
    } else if (unitKind == QLatin1String("loader")) {
        unit = new hdsim::LoaderUnit(loader, &app);
    } else {
        line.passwords = arx.passwords;
        line.ident = arx.idText;
        line.replyDelayMs = arx.replyDelayMs;
        line.silent = arx.silent;
        line.loader = loader;
        unit = new hdsim::LineUnit(line, &app);
    }
    if (useModem)
        unit = new HayesModem(unit, modem, &app);

    // Ctrl+C and kill end the event loop, so the link and trace are tidied.
    if (::pipe(signalPipe) == 0) {
        auto *notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
        QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
        // Started in the background of a script, Ctrl+C is meant for the
        // script's foreground program: keep ignoring it then, so the unit
        // stays up while the server ends its session with it.
        if (std::signal(SIGINT, onSignal) == SIG_IGN)
            std::signal(SIGINT, SIG_IGN);
        std::signal(SIGTERM, onSignal);
        std::signal(SIGHUP, onSignal);
    }
    std::signal(SIGPIPE, SIG_IGN);

    QString error;
    int rc = 0;
    if (usePty) {
        PtyTransport pty(unit, linkPath);
        if (!pty.start(&error))
            usageError(error);
        std::printf("PTY %s\n", qPrintable(pty.slavePath()));
        std::fflush(stdout);
        rc = app.exec();
    } else {
        const QHostAddress address(bind);
        if (address.isNull())
            usageError(QStringLiteral("--bind wants an IP address"));
        TcpTransport tcp(unit, address, quint16(tcpPort));
        if (!tcp.start(&error))
            usageError(QStringLiteral("cannot listen on TCP port %1: %2").arg(tcpPort).arg(error));
        std::printf("TCP %u\n", unsigned(tcp.port()));
        std::fflush(stdout);
        rc = app.exec();
    }
    setGlobalTrace(nullptr);
    return rc;
}
