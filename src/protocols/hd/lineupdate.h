#pragma once
// What the update dialogs need to know of an HD or KF-71 page: which dialog
// its Update button opens and what its line session identified of the unit.
#include "update/updatechecks.h"

#include <optional>

class ConnectionPage;

namespace updatecheck {

// The dialog a page's Update button opens: an HD unit that reports its
// display gets the KH-71 dialog, any other HD unit the HD dialog, a KF-71
// the KF-71 dialog; other hardware none.
std::optional<Dialog> dialogFor(const ConnectionPage &page);
// What the page's session identified of its unit.
UnitReport reportOf(const ConnectionPage &page);

} // namespace updatecheck
