// A TLS session over a non-blocking socket through memory BIOs.
#include "check/connect/tls_link.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <array>
#include <climits>
#include <utility>

namespace quorbix {

namespace {

using BioHandle = std::unique_ptr<BIO, TlsFree<&BIO_free>>;
using GeneralNamesHandle = std::unique_ptr<GENERAL_NAMES, TlsFree<&GENERAL_NAMES_free>>;

// Returns the reason of the earliest queued OpenSSL error and empties the queue.
std::string first_error(const std::string& fallback) {
    const unsigned long e = ERR_get_error();
    ERR_clear_error();
    const char* reason = e != 0 ? ERR_reason_error_string(e) : nullptr;
    return reason != nullptr ? reason : fallback;
}

// Returns a name in RFC 2253 form, bytes outside ASCII escaped.
std::string name_text(const X509_NAME* name) {
    const BioHandle bio(BIO_new(BIO_s_mem()));
    if (bio == nullptr || X509_NAME_print_ex(bio.get(), name, 0, XN_FLAG_RFC2253) < 0) {
        return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string();
}

// Returns an ASN.1 time as a time_t, 0 when it cannot be read.
std::time_t time_of(const ASN1_TIME* t) {
    std::tm tm{};
    return t != nullptr && ASN1_TIME_to_tm(t, &tm) == 1 ? ::timegm(&tm) : 0;
}

// Returns the text of an ASN.1 string's bytes.
std::string string_of(const ASN1_STRING* s) {
    const unsigned char* data = ASN1_STRING_get0_data(s);
    const int size = ASN1_STRING_length(s);
    return data != nullptr && size > 0
               ? std::string(reinterpret_cast<const char*>(data), static_cast<std::size_t>(size))
               : std::string();
}

// Returns the DNS names and IP addresses of the certificate's subjectAltName,
// or its common names when it has none.
std::vector<std::string> names_of(X509* cert) {
    std::vector<std::string> names;
    const GeneralNamesHandle alt(static_cast<GENERAL_NAMES*>(
        X509_get_ext_d2i(cert, NID_subject_alt_name, nullptr, nullptr)));
    for (int i = 0; alt != nullptr && i < sk_GENERAL_NAME_num(alt.get()); ++i) {
        const GENERAL_NAME* name = sk_GENERAL_NAME_value(alt.get(), i);
        if (name->type == GEN_DNS) {
            names.push_back(string_of(name->d.dNSName));
        } else if (name->type == GEN_IPADD) {
            const std::string bytes = string_of(name->d.iPAddress);
            std::array<char, INET6_ADDRSTRLEN> text{};
            const int family = bytes.size() == 4 ? AF_INET : AF_INET6;
            if ((bytes.size() == 4 || bytes.size() == 16) &&
                ::inet_ntop(family, bytes.data(), text.data(), text.size()) != nullptr) {
                names.emplace_back(text.data());
            }
        }
    }
    if (names.empty()) {
        const X509_NAME* subject = X509_get_subject_name(cert);
        for (int i = X509_NAME_get_index_by_NID(subject, NID_commonName, -1); i >= 0;
             i = X509_NAME_get_index_by_NID(subject, NID_commonName, i)) {
            names.push_back(string_of(X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, i))));
        }
    }
    ERR_clear_error();
    return names;
}

// Returns what a message says of a certificate at a depth of the chain.
PeerCertificate certificate_of(X509* cert, int depth) {
    PeerCertificate c;
    c.depth = depth;
    c.subject = name_text(X509_get_subject_name(cert));
    c.issuer = name_text(X509_get_issuer_name(cert));
    c.not_before = time_of(X509_get0_notBefore(cert));
    c.not_after = time_of(X509_get0_notAfter(cert));
    c.names = names_of(cert);
    return c;
}

}  // namespace

TlsLink::TlsLink(SSL_CTX* ctx, int fd, const std::string& host) : fd_(fd) {
    ERR_clear_error();
    ssl_.reset(SSL_new(ctx));
    BioHandle in(BIO_new(BIO_s_mem()));
    BioHandle out(BIO_new(BIO_s_mem()));
    if (ssl_ == nullptr || in == nullptr || out == nullptr) {
        setup_error_ = first_error("no TLS session");
        ssl_.reset();
        return;
    }
    in_ = in.release();
    out_ = out.release();
    SSL_set_bio(ssl_.get(), in_, out_);
    SSL_set_connect_state(ssl_.get());
    SSL_set_app_data(ssl_.get(), this);
    SSL_set_info_callback(ssl_.get(), info_callback);
    SSL_set_verify(ssl_.get(), SSL_VERIFY_PEER, verify_callback);
    if (host.empty()) {
        return;
    }
    const bool named =
        is_ip_literal(host)
            ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_.get()), host.c_str()) == 1
            : SSL_set_tlsext_host_name(ssl_.get(), host.c_str()) == 1 &&
                  SSL_set1_host(ssl_.get(), host.c_str()) == 1;
    if (!named) {
        setup_error_ = first_error("the host cannot be checked against a certificate");
        ssl_.reset();
    }
}

int TlsLink::verify_callback(int preverify_ok, X509_STORE_CTX* store) {
    const auto* ssl = static_cast<const SSL*>(
        X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    auto* self = ssl != nullptr ? static_cast<TlsLink*>(SSL_get_app_data(ssl)) : nullptr;
    if (preverify_ok == 1 || self == nullptr || self->verify_error_ != X509_V_OK) {
        return preverify_ok;
    }
    self->verify_error_ = X509_STORE_CTX_get_error(store);
    X509* cert = X509_STORE_CTX_get_current_cert(store);
    if (cert != nullptr) {
        self->failing_ = certificate_of(cert, X509_STORE_CTX_get_error_depth(store));
    }
    if (X509* leaf = X509_STORE_CTX_get0_cert(store); leaf != nullptr) {
        self->peer_ = certificate_of(leaf, 0);
    }
    return preverify_ok;
}

void TlsLink::info_callback(const SSL* ssl, int where, int ret) {
    auto* self = static_cast<TlsLink*>(SSL_get_app_data(ssl));
    if (self == nullptr || (where & SSL_CB_READ_ALERT) != SSL_CB_READ_ALERT || self->alert_ >= 0) {
        return;
    }
    const int description = ret & 0xff;
    if (description != SSL3_AD_CLOSE_NOTIFY) {
        self->alert_ = description;
        self->alert_after_handshake_ = SSL_is_init_finished(ssl) == 1;
    }
}

bool TlsLink::flush(Deadline deadline) {
    std::array<char, 16384> buf{};
    bool sent = true;
    while (BIO_ctrl_pending(out_) > 0) {
        const int n = BIO_read(out_, buf.data(), static_cast<int>(buf.size()));
        if (n <= 0) {
            break;
        }
        // Once the broker stopped listening the rest is dropped; what it
        // sent before that is still read.
        sent = sent &&
               send_all(fd_, std::string_view(buf.data(), static_cast<std::size_t>(n)), deadline)
                       .status == NetStatus::kOk;
    }
    return sent;
}

TlsStep TlsLink::drive(Op op, std::string_view data, std::string* out, Deadline deadline) {
    using Status = TlsStep::Status;
    if (ssl_ == nullptr) {
        return {Status::kFailed, setup_error_};
    }
    std::string reset_reason;
    for (;;) {
        ERR_clear_error();
        std::array<char, 16384> buf{};
        int rc = 0;
        switch (op) {
            case Op::kHandshake:
                rc = SSL_connect(ssl_.get());
                break;
            case Op::kWrite:
                rc = SSL_write(ssl_.get(), data.data(), static_cast<int>(data.size()));
                break;
            case Op::kRead:
                rc = SSL_read(ssl_.get(), buf.data(), static_cast<int>(buf.size()));
                break;
        }
        const int error = SSL_get_error(ssl_.get(), rc);
        // A reset says more than OpenSSL's "unexpected eof while reading".
        std::string reason = first_error("the connection was closed");
        if (!reset_reason.empty()) {
            reason = reset_reason;
        }
        static_cast<void>(flush(deadline));
        if (rc > 0) {
            if (op == Op::kRead) {
                out->append(buf.data(), static_cast<std::size_t>(rc));
            }
            return {};
        }
        if (error == SSL_ERROR_ZERO_RETURN) {
            return {Status::kClosed, "the broker closed the TLS session"};
        }
        if (error != SSL_ERROR_WANT_READ || eof_) {
            return {Status::kFailed, reason};
        }
        std::string got;
        const NetResult received = receive_some(fd_, got, deadline);
        if (received.status == NetStatus::kTimedOut) {
            return {Status::kTimedOut, "timed out"};
        }
        if (received.status != NetStatus::kOk) {
            // The end of the stream, or a reset: OpenSSL reads what came
            // before it, then sees the end.
            eof_ = true;
            BIO_set_mem_eof_return(in_, 0);
            if (received.status == NetStatus::kError) {
                reset_reason = errno_text(received.error);
            }
            continue;
        }
        if (first_bytes_.size() < 8) {
            first_bytes_ += got.substr(0, 8 - first_bytes_.size());
        }
        if (got.size() > static_cast<std::size_t>(INT_MAX) ||
            BIO_write(in_, got.data(), static_cast<int>(got.size())) !=
                static_cast<int>(got.size())) {
            return {Status::kFailed, first_error("the received bytes cannot be buffered")};
        }
    }
}

TlsStep TlsLink::handshake(Deadline deadline) {
    return drive(Op::kHandshake, {}, nullptr, deadline);
}

TlsStep TlsLink::write(std::string_view bytes, Deadline deadline) {
    if (bytes.size() > static_cast<std::size_t>(INT_MAX)) {
        return {TlsStep::Status::kFailed, "too many bytes"};
    }
    return drive(Op::kWrite, bytes, nullptr, deadline);
}

TlsStep TlsLink::read(std::string& out, Deadline deadline) {
    return drive(Op::kRead, {}, &out, deadline);
}

void TlsLink::close(Deadline deadline) {
    if (ssl_ != nullptr && SSL_is_init_finished(ssl_.get()) == 1) {
        static_cast<void>(SSL_shutdown(ssl_.get()));
        static_cast<void>(flush(deadline));
    }
    ERR_clear_error();
}

std::string TlsLink::version() const {
    return ssl_ != nullptr && SSL_is_init_finished(ssl_.get()) == 1 ? SSL_get_version(ssl_.get())
                                                                    : std::string();
}

bool answers_tls(const NetAddress& address, Deadline deadline) {
    TcpConnection tcp = tcp_connect(address, deadline);
    if (tcp.status != NetStatus::kOk) {
        return false;
    }
    ERR_clear_error();
    const SslCtxHandle ctx(SSL_CTX_new(TLS_client_method()));
    if (ctx == nullptr) {
        ERR_clear_error();
        return false;
    }
    // Only the first bytes of the answer count; with no CA the handshake
    // ends at the broker's certificate, and nothing is sent over it.
    TlsLink probe(ctx.get(), tcp.fd.get(), std::string());
    static_cast<void>(probe.handshake(deadline));
    ERR_clear_error();
    return looks_like_tls_record(probe.first_bytes());
}

}  // namespace quorbix
