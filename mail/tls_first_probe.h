#pragma once

#include <string>

#include "mail/connection.h"
#include "mail/server_address.h"

// How long a server that should speak plain text first may stay silent before a probe asks
// whether it waits for a TLS client instead.
inline constexpr int kTlsFirstWaitMs = 5000;

// For a connection to a server that should greet in plain text: waits for its first bytes, up
// to kTlsFirstWaitMs (or the context's time limit, if shorter). When none come, a TLS handshake
// on a second connection to the same address tells whether the server speaks TLS from the first
// byte. Returns the way out then, "the server at HOST:PORT speaks TLS from the first byte: use
// SCHEME://HOST:PORT"; else "" and the caller reads the greeting as ever.
std::string tlsFirstHint(connection* conn, const ServerForms& forms, const ServerAddress& server,
                         const ConnectionContext& context);
