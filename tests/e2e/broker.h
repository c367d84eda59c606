// The test broker: Debian's mosquitto in a private network namespace
// (loopback only, so no port of the machine is used or met), run as an
// unprivileged user, with a PKI made by the openssl command at test time,
// its configuration, certificates and password file in the namespace's own
// tmpfs over /tmp, and stopped by its process id.
//
// A case runs its body inside the namespace once the broker listens, and
// gets back what the body returned:
//
//     BrokerRun run = run_with_broker([](const BrokerPki& pki) {
//         ConnectRequest q;
//         q.host = "localhost";
//         q.port = kBrokerTlsPort;
//         q.tls_mode = 1;
//         q.ca = pki.file("ca.crt");
//         return connect_attempt(q).reason;
//     });
//     EXPECT_EQ(run.output, "connection accepted");
//
// The body runs in a forked process: GoogleTest assertions made there are
// lost; return what the test should check instead. A rig that stands in
// namespaces of its own uses the pieces (loopback_up, make_broker_pki,
// Broker) directly.
#pragma once

#include <sys/types.h>

#include <functional>
#include <map>
#include <string>

namespace quorbix::e2e {

// The listeners, all on every loopback address of the namespace.
inline constexpr int kBrokerPlainPort = 1883;       // MQTT, the password file, no anonymous
inline constexpr int kBrokerTlsPort = 8883;         // TLS: broker.crt (localhost, 127.0.0.1)
inline constexpr int kBrokerOtherNamePort = 8884;   // TLS: broker-other-name.crt
inline constexpr int kBrokerClientCertPort = 8885;  // TLS: a client certificate of ca.crt required
inline constexpr int kBrokerExpiredPort = 8886;     // TLS: broker-expired.crt, out of its dates
// TLS: a client certificate of ca.crt required, and the user and password
// of the password file.
inline constexpr int kBrokerClientCertPasswordPort = 8887;
inline constexpr int kBrokerClosedPort = 1999;  // nothing listens

// The one user of the password file.
inline constexpr char kBrokerUser[] = "gateway";
inline constexpr char kBrokerPassword[] = "secret-1";
// The common name of client.crt, the user a client certificate stands for.
inline constexpr char kBrokerClientName[] = "gateway-1";

// The broker's files by name, made at test time:
//   ca.crt, ca.der (the same CA as DER), other-ca.crt: two CAs (EC P-256);
//   broker.key; broker.crt for DNS:localhost and IP:127.0.0.1;
//   broker-other-name.crt for DNS:elsewhere.invalid only; broker-expired.crt
//   for the right names, valid in January 2020 only;
//   client.key; client.crt (ca.crt's, client authentication), client-expired.crt
//   (January 2020), client-other-ca.crt (other-ca.crt's), all for that key;
//   passwd: kBrokerUser with kBrokerPassword; mosquitto.conf.
struct BrokerPki {
    std::string dir;  // where the files are, inside the namespace
    std::map<std::string, std::string> files;

    // The bytes of a file, empty when there is none of that name.
    [[nodiscard]] const std::string& file(const std::string& name) const;
};

// What a run with the broker gave back.
struct BrokerRun {
    // Set when no namespace could be made; nothing else is filled in.
    std::string no_namespace;
    // Set when the harness failed (the PKI, the broker's start).
    std::string error;
    // What the body returned.
    std::string output;
    // What the broker logged.
    std::string broker_log;
};

// Why the broker cannot run on this machine (mosquitto, mosquitto_passwd or
// openssl is missing), empty when it can.
std::string broker_missing_tools();

// Runs body in a forked process inside fresh network and mount namespaces
// (loopback up, a tmpfs over /tmp), with the PKI made and the broker
// listening, and stops the broker when body returns.
BrokerRun run_with_broker(const std::function<std::string(const BrokerPki&)>& body);

// Inside the body: waits until the broker's log holds text, at most
// timeout_ms; the broker handles a client's last packet after the client
// has gone. Returns whether it came.
bool wait_for_broker_log(const BrokerPki& pki, const std::string& text, int timeout_ms);

// Inside a network namespace of the caller's: brings the loopback interface
// up; returns the reason when it cannot.
std::string loopback_up();

// Makes the PKI, the password file and the configuration in dir (which must
// exist) with the openssl and mosquitto_passwd commands, and reads them into
// pki; returns the reason when it cannot.
std::string make_broker_pki(const std::string& dir, BrokerPki& pki);

// The broker process: started on the configuration of a PKI, stopped by its
// process id when destroyed.
class Broker {
  public:
    Broker() = default;
    Broker(const Broker&) = delete;
    Broker& operator=(const Broker&) = delete;
    Broker(Broker&&) = delete;
    Broker& operator=(Broker&&) = delete;
    ~Broker() { stop(); }

    // Starts mosquitto on pki's configuration (as the mosquitto user when
    // run as root), killed should this process die, and waits until every
    // listener accepts, at most 10 seconds; returns the reason when it cannot.
    std::string start(const BrokerPki& pki);
    // Stops it by its process id (SIGTERM, then SIGKILL after 5 seconds).
    void stop();
    // What it has logged so far.
    [[nodiscard]] std::string log() const;

  private:
    pid_t pid_ = -1;
    std::string log_path_;
};

}  // namespace quorbix::e2e
