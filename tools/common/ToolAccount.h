// The catalog user a command-line tool reads and writes as, and the privilege checks it asks before
// it does: the catalog layer's login (catalogdb/OVNCatalogLogin.h) under the tools' name.
#pragma once

#include "catalogdb/OVNCatalogLogin.h"

namespace ToolAccount = OVNCatalogLogin;
