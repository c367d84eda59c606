// The checker's findings by code: each code's severity and what it is about,
// in one table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quorbix {

enum class Severity {
    kNote,     // informational
    kWarning,  // probably not what was meant
    kError,    // the launcher will refuse to start, or a value written is lost or changed
};

enum class Check : std::uint8_t {
    // Keys
    kUnknownKey,
    kMisspelledKey,
    kSlotKey,
    kBlankInKey,
    kNoEquals,
    kCommentLine,
    kDuplicateKey,
    kByteOrderMark,
    kWideEncoding,
    // How a value is read
    kUnclosedQuote,
    kTextAfterQuote,
    kStrayQuote,
    kBlankBeforeQuote,
    kLineCut,
    kBoundedCut,
    kValueSpread,
    kPemNotBase64,
    kCommentAfterQuote,
    kSingleQuotes,
    kTypographicQuotes,
    kTrailingBlanks,
    kBackslashQuote,
    // Numbers
    kNumberNoDigits,
    kNumberHex,
    kNumberNegative,
    kNumberOverflow,
    kNumberTrailingText,
    kNumberPlus,
    kNumberBlanks,
    kTlsModeRange,
    kQosRange,
    kPortRange,
    kDatabitsRange,
    kStopbitsRange,
    kEnableFlag,
    // Base64
    kBase64InvalidBytes,
    kBase64Dangling,
    kBase64AfterPadding,
    kBase64Empty,
    kBase64UrlSafe,
    // Staged contents
    kCsvBinary,
    kScriptCrlf,
    kScriptNoInterpreter,
    // Gates and what the launcher writes
    kNoCsv,
    kTlsNoCa,
    kTlsNoClientCert,
    kTlsNoClientKey,
    kTlsEmptyCafile,
    kDisabled,
    kNoEnable,
    kNoMqttHost,
    kNoClientId,
    kTokenNoPassword,
    kTokenMissingPart,
    kTokenCommandTooLong,
    kConfigLineCut,
    // The TLS files the settings stage
    kTlsNotPemOrDer,
    kTlsPemDamaged,
    kTlsPemDamagedAfterKey,
    kTlsCertificateUnparsable,
    kTlsCertificateNotYetValid,
    kTlsCertificateExpired,
    kTlsCertificateExpiresSoon,
    kTlsKeyEncrypted,
    kTlsKeyUnparsable,
    kTlsKeyMismatch,
    kTlsKeyInCertificateSlot,
    kTlsCertificateInKeySlot,
    kTlsNoCertificate,
    kTlsNoPrivateKey,
    kTlsBundleMemberExpired,
    kTlsBundleLeaf,
    kTlsPrivateKeyExposed,
    // The report itself
    kMoreNotShown,
};

struct CheckInfo {
    Check check;
    const char* code;
    Severity severity;
    const char* about;  // what the code is about, for the manual and --help
};

// clang-format off
inline constexpr CheckInfo kChecks[] = {
    {Check::kUnknownKey,          "unknown-key",           Severity::kWarning, "a key the launcher does not know, with no key of its own close to it"},
    {Check::kMisspelledKey,       "misspelled-key",        Severity::kError,   "a key the launcher does not know, close to one it does"},
    {Check::kSlotKey,             "slot-key",              Severity::kError,   "QUORBIX_CUSTOM1_* or QUORBIX_PORT3_*: slot 1 and port 3 have keys of their own"},
    {Check::kBlankInKey,          "blank-in-key",          Severity::kError,   "blanks around a key or before the \"=\": the setting is ignored"},
    {Check::kNoEquals,            "no-equals",             Severity::kWarning, "a line with no \"=\" where the launcher looks for one: it is ignored"},
    {Check::kCommentLine,         "comment-line",          Severity::kWarning, "a key behind export, #, // or ; first on the line: the settings have no comments, and the line is not read"},
    {Check::kDuplicateKey,        "duplicate-key",         Severity::kWarning, "a key set more than once: the first line wins"},
    {Check::kByteOrderMark,       "byte-order-mark",       Severity::kError,   "a UTF-8 byte-order mark: it becomes part of the first line's key"},
    {Check::kWideEncoding,        "wide-encoding",         Severity::kError,   "a file saved as UTF-16 or UTF-32: the launcher reads no key of it"},
    {Check::kUnclosedQuote,       "unclosed-quote",        Severity::kError,   "a quoted value that never closes: it reads as empty"},
    {Check::kTextAfterQuote,      "text-after-quote",      Severity::kError,   "text after the last double quote: it is dropped"},
    {Check::kStrayQuote,          "stray-quote",           Severity::kWarning, "a double quote in an unquoted value: the value is cut there"},
    {Check::kBlankBeforeQuote,    "blank-before-quote",    Severity::kWarning, "a blank before the opening quote: the quote stays in the value"},
    {Check::kLineCut,             "line-cut",              Severity::kError,   "a carriage return or NUL inside a line: the line ends there"},
    {Check::kBoundedCut,          "bounded-cut",           Severity::kError,   "a value longer than the 16383 bytes the bounded scanner keeps"},
    {Check::kValueSpread,         "value-spread",          Severity::kError,   "a value that runs on over the lines after its key: only the key's line is read"},
    {Check::kPemNotBase64,        "pem-not-base64",        Severity::kError,   "PEM text where the Base64 of a file belongs"},
    {Check::kCommentAfterQuote,   "comment-after-quote",   Severity::kNote,    "a comment after the closing quote: it is dropped, and the value reads as meant"},
    {Check::kSingleQuotes,        "single-quotes",         Severity::kWarning, "single quotes around a value: they stay in it"},
    {Check::kTypographicQuotes,   "typographic-quotes",    Severity::kWarning, "typographic quotes around a value: they stay in it"},
    {Check::kTrailingBlanks,      "trailing-blanks",       Severity::kWarning, "blanks or tabs at the end of an unquoted value: they stay in it"},
    {Check::kBackslashQuote,      "backslash-quote",       Severity::kWarning, "a backslash before a double quote: the backslash stays in the value"},
    {Check::kNumberNoDigits,      "number-no-digits",      Severity::kError,   "a number with no digits: it reads as 0"},
    {Check::kNumberHex,           "number-hex",            Severity::kError,   "a hexadecimal number: it reads as 0"},
    {Check::kNumberNegative,      "number-negative",       Severity::kError,   "a negative number: it wraps around 2^32"},
    {Check::kNumberOverflow,      "number-overflow",       Severity::kError,   "a number beyond 4294967295: it reads as 4294967295"},
    {Check::kNumberTrailingText,  "number-trailing-text",  Severity::kError,   "text after a number's digits: it is ignored"},
    {Check::kNumberPlus,          "number-plus",           Severity::kNote,    "a plus sign before a number"},
    {Check::kNumberBlanks,        "number-blanks",         Severity::kNote,    "blanks around a number"},
    {Check::kTlsModeRange,        "tls-mode-range",        Severity::kWarning, "a TLS mode other than 0, 1 or 2"},
    {Check::kQosRange,            "qos-range",             Severity::kWarning, "an MQTT QoS above 2"},
    {Check::kPortRange,           "port-range",            Severity::kWarning, "an MQTT port of 0 or above 65535 with a host set"},
    {Check::kDatabitsRange,       "databits-range",        Severity::kWarning, "serial data bits outside 5 to 8"},
    {Check::kStopbitsRange,       "stopbits-range",        Severity::kWarning, "serial stop bits outside 1 to 2"},
    {Check::kEnableFlag,          "enable-flag",           Severity::kNote,    "an enable flag other than 0 or 1"},
    {Check::kBase64InvalidBytes,  "base64-invalid-bytes",  Severity::kWarning, "bytes outside the Base64 alphabet: they are skipped"},
    {Check::kBase64Dangling,      "base64-dangling",       Severity::kWarning, "a length that leaves a single symbol over: its bits are dropped"},
    {Check::kBase64AfterPadding,  "base64-after-padding",  Severity::kWarning, "symbols after the padding: they are decoded as if it were not there"},
    {Check::kBase64Empty,         "base64-empty",          Severity::kWarning, "a value that decodes to nothing: no file is staged"},
    {Check::kBase64UrlSafe,       "base64-url-safe",       Severity::kError,   "URL-safe Base64: \"_\" is skipped, so the staged file is damaged"},
    {Check::kCsvBinary,           "csv-binary",            Severity::kError,   "a CSV configuration that is compressed or binary data"},
    {Check::kScriptCrlf,          "script-crlf",           Severity::kError,   "a script with CR LF line ends: \"bad interpreter\" on the device"},
    {Check::kScriptNoInterpreter, "script-no-interpreter", Severity::kNote,    "a script without a \"#!\" line"},
    {Check::kNoCsv,               "no-csv",                Severity::kError,   "no CSV configuration: the launcher refuses to start"},
    {Check::kTlsNoCa,             "tls-no-ca",             Severity::kError,   "TLS mode 1 without a CA certificate: the launcher refuses to start"},
    {Check::kTlsNoClientCert,     "tls-no-client-cert",    Severity::kError,   "TLS mode 2 without a client certificate: the launcher refuses to start"},
    {Check::kTlsNoClientKey,      "tls-no-client-key",     Severity::kError,   "TLS mode 2 without a client key: the launcher refuses to start"},
    {Check::kTlsEmptyCafile,      "tls-empty-cafile",      Severity::kWarning, "TLS without a CA certificate: the configuration gets an empty mqtt_cafile line"},
    {Check::kDisabled,            "disabled",              Severity::kNote,    "QUORBIX_ENABLE is 0: the gateway stays disabled"},
    {Check::kNoEnable,            "no-enable",             Severity::kWarning, "no QUORBIX_ENABLE line: it reads 0 and the gateway never runs"},
    {Check::kNoMqttHost,          "no-mqtt-host",          Severity::kWarning, "enabled without an MQTT host: the configuration gets an empty mqtt_host= line"},
    {Check::kNoClientId,          "no-client-id",          Severity::kWarning, "enabled without a client id: the configuration gets an empty mqtt_clientid= line"},
    {Check::kTokenNoPassword,     "token-no-password",     Severity::kWarning, "a generated token asked for without a key: the password line is empty"},
    {Check::kTokenMissingPart,    "token-missing-part",    Severity::kWarning, "a generated token asked for with an empty host or client id"},
    {Check::kTokenCommandTooLong, "token-command-too-long", Severity::kError,  "a token command too long for the shell: the tool is not run"},
    {Check::kConfigLineCut,       "config-line-cut",       Severity::kError,   "a configuration line cut at its bound: the rest of the value is lost"},
    {Check::kTlsNotPemOrDer,            "tls-not-pem-or-der",            Severity::kError,   "a TLS file that is neither PEM text nor DER data"},
    {Check::kTlsPemDamaged,             "tls-pem-damaged",               Severity::kError,   "PEM text that cannot be read to its end"},
    {Check::kTlsPemDamagedAfterKey,     "tls-pem-damaged-after-key",     Severity::kWarning, "a key file whose PEM text is damaged after a usable key"},
    {Check::kTlsCertificateUnparsable,  "tls-certificate-unparsable",    Severity::kError,   "a certificate that does not parse"},
    {Check::kTlsCertificateNotYetValid, "tls-certificate-not-yet-valid", Severity::kError,   "a certificate that is not valid yet"},
    {Check::kTlsCertificateExpired,     "tls-certificate-expired",       Severity::kError,   "a certificate that has expired"},
    {Check::kTlsCertificateExpiresSoon, "tls-certificate-expires-soon",  Severity::kWarning, "a certificate that expires within 30 days"},
    {Check::kTlsKeyEncrypted,           "tls-key-encrypted",             Severity::kError,   "an encrypted private key: the daemon has no passphrase"},
    {Check::kTlsKeyUnparsable,          "tls-key-unparsable",            Severity::kError,   "a private key that does not parse"},
    {Check::kTlsKeyMismatch,            "tls-key-mismatch",              Severity::kError,   "a client key that does not match the client certificate"},
    {Check::kTlsKeyInCertificateSlot,   "tls-key-in-certificate-slot",   Severity::kError,   "a private key where a certificate belongs"},
    {Check::kTlsCertificateInKeySlot,   "tls-certificate-in-key-slot",   Severity::kError,   "a certificate where the private key belongs"},
    {Check::kTlsNoCertificate,          "tls-no-certificate",            Severity::kError,   "a certificate file that holds no certificate"},
    {Check::kTlsNoPrivateKey,           "tls-no-private-key",            Severity::kError,   "a key file that holds no private key"},
    {Check::kTlsBundleMemberExpired,    "tls-bundle-member-expired",     Severity::kWarning, "a CA bundle member out of its dates, while another member is valid"},
    {Check::kTlsBundleLeaf,             "tls-bundle-leaf",               Severity::kWarning, "a leaf certificate in a CA bundle, while another member is valid"},
    {Check::kTlsPrivateKeyExposed,      "tls-private-key-exposed",       Severity::kWarning, "a certificate file that also holds a private key, staged readable by all"},
    {Check::kMoreNotShown,        "more-not-shown",        Severity::kNote,    "further findings of one code that are counted, not shown"},
};
// clang-format on

constexpr bool checks_in_enum_order() {
    std::size_t i = 0;
    for (const CheckInfo& info : kChecks) {
        // cppcheck-suppress useStlAlgorithm ; the algorithms are not constexpr in C++17
        if (static_cast<std::size_t>(info.check) != i++) {
            return false;
        }
    }
    return i == static_cast<std::size_t>(Check::kMoreNotShown) + 1;
}
static_assert(checks_in_enum_order(), "kChecks lists every Check once, in the enum's order");

// True for the codes of the TLS files' contents (tls_material.h), apart from
// the gates' TLS codes.
constexpr bool is_tls_material_check(Check check) {
    return check >= Check::kTlsNotPemOrDer && check <= Check::kTlsPrivateKeyExposed;
}

// The table's entry for check.
constexpr const CheckInfo& check_info(Check check) {
    return kChecks[static_cast<std::size_t>(check)];
}

}  // namespace quorbix
