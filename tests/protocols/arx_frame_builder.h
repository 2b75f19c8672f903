#pragma once
// Arxon frames written out in a test: the sync bytes and descriptor, then
// bytes put at the slots the test names.
#include <QByteArray>
#include <initializer_list>

inline QByteArray arxFrame(quint8 descriptor)
{
    QByteArray f(100, '\0');
    f[0] = char(0xFF);
    f[1] = char(0xFE);
    f[2] = char(0xFD);
    f[3] = char(descriptor);
    return f;
}

inline void put(QByteArray &f, int slot, std::initializer_list<int> values)
{
    for (int v : values)
        f[slot++] = char(v);
}
