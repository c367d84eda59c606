// The TLS side of a connection attempt: the staged CA, certificate and key
// loaded from memory exactly as OpenSSL's PEM file loaders read them, and a
// TLS session over a non-blocking socket through memory BIOs, so that every
// byte goes through poll and the broker's alerts and first bytes are seen.
#pragma once

#include <openssl/ssl.h>

#include <memory>
#include <string>
#include <string_view>

#include "check/connect/connect.h"
#include "check/connect/net.h"

namespace quorbix {

// Frees an OpenSSL object of the TLS stage through its own free function.
template <auto Free>
struct TlsFree {
    template <typename T>
    void operator()(T* p) const {
        Free(p);
    }
};

using SslCtxHandle = std::unique_ptr<SSL_CTX, TlsFree<&SSL_CTX_free>>;
using SslHandle = std::unique_ptr<SSL, TlsFree<&SSL_free>>;

// The client context of the TLS stage, or the staged file that kept it from
// being made.
struct TlsSetup {
    SslCtxHandle ctx;
    ConnectFile failed_file = ConnectFile::kNone;
    bool failed_der = false;  // the file is not PEM but looks like DER
    std::string reason;       // OpenSSL's reason when the context is null
    bool default_trust_store = false;
};

// Makes the context for the request's TLS mode: the broker verified against
// the staged CA (this machine's trust store without one), and in mode 2 the
// client certificate chain and key; OpenSSL's default security level.
TlsSetup tls_setup(const ConnectRequest& request);

// Whether bytes begin like a TLS record: an alert or a handshake, version 3.x.
bool looks_like_tls_record(std::string_view bytes);

// Returns the name of a TLS alert description ("certificate expired").
std::string tls_alert_name(int alert);

// How a TLS operation ended.
struct TlsStep {
    enum class Status { kOk, kClosed, kTimedOut, kFailed } status = Status::kOk;
    std::string reason;  // OpenSSL's or the system's, for kFailed and kClosed
};

// One TLS session over a connected socket. It is neither copied nor moved:
// OpenSSL's callbacks reach it by its address.
class TlsLink {
  public:
    // Starts a session of ctx over fd for host: SNI for a name (none for an
    // IP address) and the name or address checked against the certificate;
    // an empty host sends no name and checks none.
    TlsLink(SSL_CTX* ctx, int fd, const std::string& host);
    TlsLink(const TlsLink&) = delete;
    TlsLink& operator=(const TlsLink&) = delete;
    TlsLink(TlsLink&&) = delete;
    TlsLink& operator=(TlsLink&&) = delete;
    ~TlsLink() = default;

    // Runs the handshake to its end or the deadline.
    TlsStep handshake(Deadline deadline);
    // Sends bytes as application data.
    TlsStep write(std::string_view bytes, Deadline deadline);
    // Reads application data, at least one byte, appending it to out.
    TlsStep read(std::string& out, Deadline deadline);
    // Sends close_notify without waiting for the broker's.
    void close(Deadline deadline);

    // The first fatal alert the broker sent (-1 when none), and whether it
    // came after the handshake had ended.
    [[nodiscard]] int alert() const { return alert_; }
    [[nodiscard]] bool alert_after_handshake() const { return alert_after_handshake_; }
    // The first bytes the broker sent (up to 8), before decryption.
    [[nodiscard]] const std::string& first_bytes() const { return first_bytes_; }
    // OpenSSL's first verify error (X509_V_OK when none), the broker's own
    // certificate and the one the error concerned, from the verify callback.
    [[nodiscard]] int verify_error() const { return verify_error_; }
    [[nodiscard]] const PeerCertificate& peer() const { return peer_; }
    [[nodiscard]] const PeerCertificate& failing() const { return failing_; }
    // The protocol version once the handshake ended ("TLSv1.3").
    [[nodiscard]] std::string version() const;
    // The reason the session could not be set up, empty when it was.
    [[nodiscard]] const std::string& setup_error() const { return setup_error_; }

  private:
    static int verify_callback(int preverify_ok, X509_STORE_CTX* store);
    static void info_callback(const SSL* ssl, int where, int ret);
    enum class Op { kHandshake, kWrite, kRead };
    TlsStep drive(Op op, std::string_view data, std::string* out, Deadline deadline);
    bool flush(Deadline deadline);

    SslHandle ssl_;
    BIO* in_ = nullptr;   // owned by ssl_
    BIO* out_ = nullptr;  // owned by ssl_
    int fd_ = -1;
    bool eof_ = false;
    std::string setup_error_;
    std::string first_bytes_;
    int alert_ = -1;
    bool alert_after_handshake_ = false;
    int verify_error_ = 0;
    PeerCertificate peer_;
    PeerCertificate failing_;
};

// Whether the address answers a TLS ClientHello with a TLS record: the
// check of a mode-0 port that closed without a word.
bool answers_tls(const NetAddress& address, Deadline deadline);

}  // namespace quorbix
