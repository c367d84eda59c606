#include "staging/gates.h"

namespace quorbix {

namespace {

GateVerdict refuse(const char* log_line) {
    return GateVerdict{true, kExitMissingFile, log_line, true};
}

}  // namespace

GateVerdict gate_before_config(const GatewaySettings& s, bool csv_present) {
    if (!csv_present) {
        return refuse(kMsgNoCsv);  // before the enable gate: also when disabled
    }
    if (s.enable == 0) {
        return GateVerdict{true, kExitDisabled, kMsgDisabled, false};
    }
    return {};
}

GateVerdict gate_tls(const GatewaySettings& s, bool ca_present, bool local_cert_present,
                     bool local_key_present) {
    switch (s.mqtt_tls) {
        case 1:
            return ca_present ? GateVerdict{} : refuse(kMsgNoCa);
        case 2:
            if (!local_cert_present) {
                return refuse(kMsgNoLocalCert);
            }
            return local_key_present ? GateVerdict{} : refuse(kMsgNoLocalKey);
        default:
            return {};  // mode 0 and modes the gate does not know test no file
    }
}

}  // namespace quorbix
