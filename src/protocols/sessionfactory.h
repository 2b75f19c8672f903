#pragma once
// The session of each hardware type (0 ARX, 1 KX-71, 2 HD, 3 KF-71), as the
// station hands it to its pages (ConnectionPage::Environment::sessions).
#include "connection/session.h"

#include <memory>

std::unique_ptr<Session> createSession(int hardwareType, SessionHost &page);
