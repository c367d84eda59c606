// The broker's files: a PKI made with the openssl command, the password
// file and mosquitto's configuration.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "broker.h"
#include "broker_io.h"

namespace quorbix::e2e {

namespace {

constexpr const char kMosquittoPasswd[] = "/usr/bin/mosquitto_passwd";
constexpr const char kOpenssl[] = "/usr/bin/openssl";

// The openssl configuration of the PKI: one database for both CAs, and the
// extensions of each kind of certificate.
constexpr const char kOpensslConfig[] =
    "[req]\ndistinguished_name = dn\nprompt = no\n[dn]\nCN = unused\n"
    "[v3_ca]\nbasicConstraints = critical,CA:TRUE\nkeyUsage = critical,keyCertSign,cRLSign\n"
    "subjectKeyIdentifier = hash\n"
    "[ca]\ndefault_ca = test_ca\n"
    "[test_ca]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\ndefault_md = sha256\n"
    "policy = any\nunique_subject = no\n[any]\ncommonName = supplied\n"
    "[broker]\nbasicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n"
    "subjectAltName = DNS:localhost,IP:127.0.0.1\n"
    "[broker_other_name]\nbasicConstraints = CA:FALSE\nextendedKeyUsage = serverAuth\n"
    "subjectAltName = DNS:elsewhere.invalid\n"
    "[client]\nbasicConstraints = CA:FALSE\nextendedKeyUsage = clientAuth\n";

// The listeners of mosquitto.conf after its common lines, each with its own
// settings; DIR stands for the PKI's folder.
constexpr const char kBrokerConfig[] =
    "per_listener_settings true\npersistence false\nlog_dest stderr\n"
    "log_type error\nlog_type warning\nlog_type notice\nlog_type information\n"
    "listener 1883\nallow_anonymous false\npassword_file DIR/passwd\n"
    "listener 8883\nallow_anonymous true\ncafile DIR/ca.crt\ncertfile DIR/broker.crt\n"
    "keyfile DIR/broker.key\n"
    "listener 8884\nallow_anonymous true\ncafile DIR/ca.crt\ncertfile DIR/broker-other-name.crt\n"
    "keyfile DIR/broker.key\n"
    "listener 8885\ncafile DIR/ca.crt\ncertfile DIR/broker.crt\nkeyfile DIR/broker.key\n"
    "require_certificate true\nuse_identity_as_username true\n"
    "listener 8886\nallow_anonymous true\ncafile DIR/ca.crt\ncertfile DIR/broker-expired.crt\n"
    "keyfile DIR/broker.key\n"
    "listener 8887\nallow_anonymous false\npassword_file DIR/passwd\ncafile DIR/ca.crt\n"
    "certfile DIR/broker.crt\nkeyfile DIR/broker.key\nrequire_certificate true\n";

// Runs a program with its arguments in dir, its output captured; returns
// the reason when it does not exit 0.
std::string run_tool(const std::string& dir, std::vector<std::string> words) {
    std::vector<char*> argv;
    for (std::string& w : words) {
        argv.push_back(w.data());
    }
    argv.push_back(nullptr);
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        return errno_reason("pipe");
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(fds[1], 1);
        ::dup2(fds[1], 2);
        const int null = ::open("/dev/null", O_RDONLY);
        ::dup2(null, 0);
        if (::chdir(dir.c_str()) == 0) {
            ::execv(argv[0], argv.data());
        }
        std::_Exit(127);
    }
    ::close(fds[1]);
    const std::string output = pid > 0 ? read_fd(fds[0]) : std::string();
    ::close(fds[0]);
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) {
        return errno_reason("running " + words[0]);
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) == 0) {
        return {};
    }
    std::string command;
    for (const std::string& w : words) {
        command += (command.empty() ? "" : " ") + w;
    }
    return command + " failed (wait status " + std::to_string(status) + "): " + output;
}

// Signs a request with a CA of the PKI; dates are openssl's (YYYYMMDDhhmmssZ),
// or 365 days from now when empty.
std::string sign(const std::string& dir, const std::string& ca, const std::string& csr,
                 const std::string& out, const std::string& extensions,
                 const std::string& start = {}, const std::string& end = {}) {
    std::vector<std::string> words = {kOpenssl,   "ca",        "-config",     "openssl.cnf",
                                      "-batch",   "-notext",   "-cert",       ca + ".crt",
                                      "-keyfile", ca + ".key", "-in",         csr,
                                      "-out",     out,         "-extensions", extensions};
    if (start.empty()) {
        words.insert(words.end(), {"-days", "365"});
    } else {
        words.insert(words.end(), {"-startdate", start, "-enddate", end});
    }
    return run_tool(dir, std::move(words));
}

// Makes an EC P-256 key and either a self-signed CA (ca) or a request (csr).
std::string new_key(const std::string& dir, const std::string& name, const std::string& subject,
                    bool ca) {
    std::vector<std::string> words = {
        kOpenssl,  "req",     "-config",     "openssl.cnf",
        "-newkey", "ec",      "-pkeyopt",    "ec_paramgen_curve:P-256",
        "-nodes",  "-keyout", name + ".key", "-subj",
        subject};
    if (ca) {
        words.insert(words.end(),
                     {"-x509", "-days", "3650", "-extensions", "v3_ca", "-out", name + ".crt"});
    } else {
        words.insert(words.end(), {"-new", "-out", name + ".csr"});
    }
    return run_tool(dir, std::move(words));
}
}  // namespace

const std::string& BrokerPki::file(const std::string& name) const {
    static const std::string kNone;
    const auto it = files.find(name);
    return it == files.end() ? kNone : it->second;
}

std::string broker_missing_tools() {
    std::string missing;
    for (const char* tool : {kMosquitto, kMosquittoPasswd, kOpenssl}) {
        if (::access(tool, X_OK) != 0) {
            missing += (missing.empty() ? "" : ", ") + std::string(tool);
        }
    }
    return missing.empty() ? std::string() : "missing: " + missing;
}

std::string make_broker_pki(const std::string& dir, BrokerPki& pki) {
    std::string config = kBrokerConfig;
    for (std::size_t at = config.find("DIR"); at != std::string::npos;
         at = config.find("DIR", at)) {
        config.replace(at, 3, dir);
    }
    if (!write_path(dir + "/openssl.cnf", kOpensslConfig) || !write_path(dir + "/index.txt", "") ||
        !write_path(dir + "/serial", "1000\n") || !write_path(dir + "/mosquitto.conf", config)) {
        return errno_reason("writing the PKI's configuration in " + dir);
    }
    const std::string january_2020[] = {"20200101000000Z", "20200201000000Z"};
    const std::vector<std::function<std::string()>> steps = {
        [&] { return new_key(dir, "ca", "/CN=quorbix test CA", true); },
        [&] { return new_key(dir, "other-ca", "/CN=quorbix other CA", true); },
        [&] { return new_key(dir, "broker", "/CN=localhost", false); },
        [&] { return sign(dir, "ca", "broker.csr", "broker.crt", "broker"); },
        [&] { return sign(dir, "ca", "broker.csr", "broker-other-name.crt", "broker_other_name"); },
        [&] {
            return sign(dir, "ca", "broker.csr", "broker-expired.crt", "broker", january_2020[0],
                        january_2020[1]);
        },
        [&] { return new_key(dir, "client", std::string("/CN=") + kBrokerClientName, false); },
        [&] { return sign(dir, "ca", "client.csr", "client.crt", "client"); },
        [&] {
            return sign(dir, "ca", "client.csr", "client-expired.crt", "client", january_2020[0],
                        january_2020[1]);
        },
        [&] { return sign(dir, "other-ca", "client.csr", "client-other-ca.crt", "client"); },
        [&] {
            return run_tool(
                dir, {kOpenssl, "x509", "-in", "ca.crt", "-outform", "DER", "-out", "ca.der"});
        },
        [&] {
            return run_tool(dir,
                            {kMosquittoPasswd, "-c", "-b", "passwd", kBrokerUser, kBrokerPassword});
        },
    };
    for (const auto& step : steps) {
        if (std::string reason = step(); !reason.empty()) {
            return reason;
        }
    }
    pki.dir = dir;
    for (const char* name :
         {"ca.crt", "ca.der", "other-ca.crt", "broker.key", "broker.crt", "broker-other-name.crt",
          "broker-expired.crt", "client.key", "client.crt", "client-expired.crt",
          "client-other-ca.crt", "passwd", "mosquitto.conf"}) {
        const std::string path = dir + "/" + name;
        // Readable by the broker's user: these are test keys.
        if (::chmod(path.c_str(), 0644) != 0) {
            return errno_reason("chmod " + path);
        }
        pki.files[name] = read_path(path);
    }
    return {};
}
}  // namespace quorbix::e2e
