// What the console reads itself, from any bytes: the log-in body, the
// messages query, path numbers, cookie and Basic headers, the accounts file
// and the key = value settings file. None may crash; what is accepted must
// hold what the API relies on.
#include "console/consoleaccounts.h"
#include "console/consoleparse.h"
#include "core/keyvaluefile.h"

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    QString user, level, error;
    QByteArray password;
    consoleparse::login(input, user, password, &error);
    quint64 after = 0;
    if (consoleparse::messageQuery(QString::fromUtf8(input), after, level, &error)
        && !(level.isEmpty() || level == QLatin1String("error") || level == QLatin1String("status")
             || level == QLatin1String("debug")))
        __builtin_trap();
    const int n = consoleparse::number(QString::fromUtf8(input.left(4)), 8);
    if (n < 0 || n > 8)
        __builtin_trap();
    consoleparse::cookieValue(input, "tolva_session");
    consoleparse::basic(input, user, password);

    QList<ConsoleAccount> accounts;
    if (consoleaccounts::parse(input, QStringLiteral("Console.USR"), accounts, &error))
        for (const ConsoleAccount &a : accounts)
            if (!consoleaccounts::validName(a.name) || a.level < 1 || a.level > 3 || !a.hash.startsWith("$argon2id$"))
                __builtin_trap();
    keyvalue::File file;
    keyvalue::parse(input, QStringLiteral("Console.CFG"),
                    {QStringLiteral("enabled"), QStringLiteral("bind"), QStringLiteral("port")}, file, &error);
    return 0;
}
