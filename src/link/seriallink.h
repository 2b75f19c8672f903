#pragma once
// A ByteLink over one port of the serial library (RS-232 and modem pages).
#include "link/bytelink.h"

class SerialLibrary;

class SerialLink : public ByteLink {
public:
    SerialLink(SerialLibrary &library, int port) : m_library(library), m_port(port) {}

    void send(const QByteArray &bytes) override;
    QByteArray readSome(int max) override;
    int bytesWaiting() const override;
    void clearReceive() override;

    int port() const { return m_port; }

private:
    SerialLibrary &m_library;
    int m_port;
};
