#include "daemon_config/token.h"

#include <cstdio>
#include <cstring>

#include "common/paths.h"
#include "common/shell.h"

namespace quorbix {

namespace {

// What joins the host and the client id in the token tool's resource.
constexpr std::string_view kResourceJoin = "/devices/";

}  // namespace

std::string token_resource(std::string_view host, std::string_view client_id) {
    return std::string(host).append(kResourceJoin).append(client_id);
}

std::string token_command(std::string_view host, std::string_view client_id, std::string_view key) {
    // "/opt/quorbix/bin/create-sas %s/devices/%s %s  2>/dev/null", each %s a
    // settings text quoted for the shell: the resource reaches the tool as
    // token_resource forms it.
    std::string command;
    command.append(paths::kTokenTool)
        .append(" ")
        .append(shell_quote(host))
        .append(kResourceJoin)
        .append(shell_quote(client_id))
        .append(" ")
        .append(shell_quote(key))
        .append("  2>/dev/null");
    if (command.size() >= kMaxTokenCommand) {
        // A command cut short would run with a truncated key or argument;
        // not running the tool gives the empty password instead.
        return std::string();
    }
    return command;
}

std::string token_first_line(std::string_view output) {
    std::string_view line = output.substr(0, kTokenLineSize - 1);
    const std::size_t nl = line.find('\n');
    if (nl != std::string_view::npos) {
        line = line.substr(0, nl + 1);
    }
    return std::string(line.substr(0, line.find('\0')));
}

std::string token_request(std::string_view host, std::string_view client_id, std::string_view key) {
    std::string command = token_command(host, client_id, key);
    if (command.empty()) {
        return std::string();
    }
    std::FILE* pipe = ::popen(command.c_str(), "re");
    if (pipe == nullptr) {
        return std::string();
    }
    char line[kTokenLineSize];
    line[0] = '\0';
    if (std::fgets(line, sizeof line, pipe) == nullptr) {
        line[0] = '\0';
    }
    line[sizeof line - 1] = '\0';
    // pclose waits for the tool; its exit status is not examined.
    ::pclose(pipe);
    return std::string(line, std::strlen(line));
}

}  // namespace quorbix
