// How the checker words the connection it tried with --connect: one finding
// per attempt, its code, the setting a person must change for it, and its
// sentences. Pure: from the attempt's result and the settings it used to
// texts; the texts from the network are escaped where findings are added.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "check/connect/connect.h"
#include "check/model/codes.h"

namespace quorbix {

// The setting a connection finding points at; kNone for the file as a whole.
enum class ConnectionSetting {
    kNone,
    kHost,
    kHostAndPort,  // the port's line when the port is set, else the host's
    kTlsMode,
    kCa,
    kLocalCert,
    kLocalKey,
    kClientId,
    kPassword,
};

// What the words need to know besides the result: the settings the attempt
// used and what was said about them.
struct ConnectionFacts {
    std::string host;
    std::uint32_t port = 0;
    std::uint32_t tls_mode = 0;
    int timeout_seconds = 0;
    bool anonymous = false;                  // QUORBIX_MQTT_ANONY is not 0: no user or password
    bool token_password = false;             // the password is the token tool's output
    std::vector<std::string> token_trouble;  // what went wrong with the token tool
    std::time_t now = 0;                     // this machine's clock, for a certificate's dates
};

// One connection finding before it is placed.
struct ConnectionFinding {
    Code code = Code::kConnectNotTried;
    ConnectionSetting setting = ConnectionSetting::kNone;
    std::string message;
    std::string launcher_does;
    std::string remedy;  // empty for none
};

// The finding for the result of an attempt.
ConnectionFinding connection_finding(const ConnectionFacts& facts, const ConnectResult& r);

// The finding for a file with which no attempt was made, and why: "the
// launcher refuses to start: exit 255, ..." and the like.
ConnectionFinding connection_not_tried(const std::string& why, const std::string& launcher_does);

}  // namespace quorbix
