// --connect: for a file whose outcome is a start, one attempt to reach the
// broker as the gateway would (check/connect), with the values the daemon's
// configuration would hold and the bytes the launcher would stage, and its
// result as one finding of the file, at the setting a person must change.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "check/connect/connect.h"
#include "check/model/analysis.h"
#include "check/report/report.h"
#include "daemon_config/token.h"

namespace quorbix {

// What the command line asks of the connection check.
struct ConnectionOptions {
    bool enabled = false;                  // --connect
    bool fleet = false;                    // --connect-fleet: more than one file may be tried
    int timeout_seconds = 10;              // --connect-timeout: TCP, TLS and MQTT together
    std::optional<std::string> client_id;  // --connect-client-id, in place of the file's
    bool run_token_tool = false;           // --run-token-tool: the password from the token tool
};

// The network and the token tool as the check reaches them; tests put
// stand-ins in their place.
struct ConnectionSeams {
    std::function<ConnectResult(const ConnectRequest&)> attempt = connect_attempt;
    std::function<TokenRun(std::string_view host, std::string_view client_id, std::string_view key)>
        token_tool = token_request;
};

// For the settings file `bytes`, analysed with `analysis_options` into
// *analysis: tries the connection when the outcome is a start (the token
// tool run first when asked and needed), adds the finding that says how it
// went, or why nothing was tried, to *analysis, and returns its view.
ConnectionView check_connection(std::string_view bytes, const AnalysisOptions& analysis_options,
                                const ConnectionOptions& options, FileAnalysis* analysis,
                                const ConnectionSeams& seams = {});

}  // namespace quorbix
