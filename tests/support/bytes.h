#pragma once
// Bytes written out in a test: bytes({0x03, 0xFE}).
#include <QByteArray>
#include <initializer_list>

inline QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int v : values)
        out.append(char(v));
    return out;
}

// Every byte value once, 0 to 255.
inline QByteArray allByteValues()
{
    QByteArray out;
    for (int i = 0; i < 256; ++i)
        out.append(char(i));
    return out;
}
