#include "result_codec.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace quorbix::test {

namespace {

// Fields of a result, in a fixed order, each with its length.
class Encoder {
  public:
    Encoder& operator<<(const std::string& s) {
        const std::uint64_t n = s.size();
        out_.append(reinterpret_cast<const char*>(&n), sizeof n).append(s);
        return *this;
    }
    Encoder& operator<<(long v) { return *this << std::to_string(v); }
    [[nodiscard]] const std::string& bytes() const { return out_; }

  private:
    std::string out_;
};

// Reads the fields an Encoder wrote, in the same order; a field cut short reads empty.
class Decoder {
  public:
    explicit Decoder(std::string_view in) : in_(in) {}
    Decoder& operator>>(std::string& s) {
        std::uint64_t n = 0;
        if (in_.size() < sizeof n) {
            s.clear();
            return *this;
        }
        std::memcpy(&n, in_.data(), sizeof n);
        in_.remove_prefix(sizeof n);
        s = std::string(in_.substr(0, static_cast<std::size_t>(n)));
        in_.remove_prefix(std::min(in_.size(), static_cast<std::size_t>(n)));
        return *this;
    }
    template <typename T>
    Decoder& operator>>(T& v) {
        std::string s;
        *this >> s;
        v = static_cast<T>(std::strtol(s.c_str(), nullptr, 10));
        return *this;
    }

  private:
    std::string_view in_;
};

// Writes a certificate's fields, its names one to a line.
void encode(Encoder& e, const PeerCertificate& c) {
    std::string names;
    for (const std::string& n : c.names) {
        names += n + "\n";
    }
    e << c.depth << c.subject << c.issuer << static_cast<long>(c.not_before)
      << static_cast<long>(c.not_after) << names;
}

// Reads the fields that encode wrote for a certificate.
void decode(Decoder& d, PeerCertificate& c) {
    std::string names;
    d >> c.depth >> c.subject >> c.issuer >> c.not_before >> c.not_after >> names;
    for (std::size_t at = 0, end = 0; (end = names.find('\n', at)) != std::string::npos;
         at = end + 1) {
        c.names.push_back(names.substr(at, end - at));
    }
}

}  // namespace

std::string encode_result(const ConnectResult& r) {
    Encoder e;
    e << static_cast<long>(r.stage) << static_cast<long>(r.outcome) << static_cast<long>(r.cause)
      << r.reason << r.address << static_cast<long>(r.failed_addresses.size());
    for (const AddressTried& a : r.failed_addresses) {
        e << a.address << static_cast<long>(a.cause) << a.reason;
    }
    e << r.tls_version << r.connack << static_cast<long>(r.session_present) << r.milliseconds
      << r.tls_alert << static_cast<long>(r.alert_after_handshake) << r.verify_error
      << r.host_checked;
    encode(e, r.peer);
    encode(e, r.failing);
    e << static_cast<long>(r.staged_file) << static_cast<long>(r.staged_der)
      << static_cast<long>(r.password_not_sent) << static_cast<long>(r.default_trust_store);
    return e.bytes();
}

ConnectResult decode_result(std::string_view bytes) {
    ConnectResult r;
    Decoder d(bytes);
    long failed = 0;
    d >> r.stage >> r.outcome >> r.cause >> r.reason >> r.address >> failed;
    for (long i = 0; i < failed; ++i) {
        AddressTried a;
        d >> a.address >> a.cause >> a.reason;
        r.failed_addresses.push_back(a);
    }
    d >> r.tls_version >> r.connack >> r.session_present >> r.milliseconds >> r.tls_alert >>
        r.alert_after_handshake >> r.verify_error >> r.host_checked;
    decode(d, r.peer);
    decode(d, r.failing);
    d >> r.staged_file >> r.staged_der >> r.password_not_sent >> r.default_trust_store;
    return r;
}

}  // namespace quorbix::test
