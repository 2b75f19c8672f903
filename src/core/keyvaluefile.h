#pragma once
// The settings files of the console and what comes after it: "key = value"
// lines, '#' starts a comment, a missing file or key means its default. A key
// the caller does not know, a line without '=', a key given twice or a value
// the caller refuses is an error naming the file and the line.
#include <QByteArray>
#include <QHash>
#include <QString>
#include <functional>

namespace keyvalue {

struct Entry {
    QString value;
    int line = 0;
};

struct File {
    QString path;          // for messages
    QHash<QString, Entry> entries;
};

// Bytes of a settings file read at most: these are a few lines.
inline constexpr qint64 kMaxFileBytes = 64 * 1024;

// Parses text; `known` lists the keys the caller reads. False with `error`
// ("FILE line N: ...") on the first problem.
bool parse(const QByteArray &text, const QString &path, const QStringList &known, File &out, QString *error);
// Reads a whole file of at most maxBytes. False with "FILE: reason" when it
// cannot be read whole or is larger.
bool readBounded(const QString &path, qint64 maxBytes, QByteArray &text, QString *error);
// Reads and parses the file; a missing file is an empty one.
bool read(const QString &path, const QStringList &known, File &out, QString *error);

// Typed readers of one entry: a missing key leaves `value` as it is. False
// with `error` naming file and line when the text is not a value of the type.
bool readBool(const File &f, const QString &key, bool &value, QString *error);
bool readInt(const File &f, const QString &key, int min, int max, int &value, QString *error);
bool readText(const File &f, const QString &key, QString &value);

QString where(const File &f, const QString &key);

} // namespace keyvalue
