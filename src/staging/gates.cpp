#include "staging/gates.h"

#include <cstdio>

namespace quorbix {

GateVerdict gate_before_config(const GatewaySettings& s, bool csv_present) {
    if (!csv_present) {
        return kStopNoCsv;
    }
    if (s.enable == 0) {
        return kStopDisabled;
    }
    return kGoOn;
}

GateVerdict gate_config_written(bool written) {
    return written ? kGoOn : kStopConfigNotWritten;
}

GateVerdict gate_tls(const GatewaySettings& s, bool ca_present, bool local_cert_present,
                     bool local_key_present) {
    switch (s.mqtt_tls) {
        case 1:
            return ca_present ? kGoOn : kStopNoCa;
        case 2:
            // The CA certificate is not looked for in this mode.
            if (!local_cert_present) {
                return kStopNoLocalCert;
            }
            return local_key_present ? kGoOn : kStopNoLocalKey;
        default:
            return kGoOn;
    }
}

GateVerdict gate_scripts_written(unsigned failed_slot, ScriptLogLine& line) {
    if (failed_slot == 0) {
        return kGoOn;
    }
    GateVerdict verdict = kStopScriptNotWritten;
    static_cast<void>(
        std::snprintf(line.text, sizeof line.text, kLogScriptNotWrittenFormat, failed_slot));
    verdict.log_line = line.text;
    return verdict;
}

}  // namespace quorbix
