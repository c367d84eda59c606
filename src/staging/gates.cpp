#include "staging/gates.h"

#include <algorithm>
#include <cstdio>

namespace quorbix {

GateVerdict gate_csv(bool csv_present) {
    return csv_present ? kGoOn : kStopNoCsv;
}

GateVerdict gate_enabled(const GatewaySettings& s) {
    return s.enable != 0 ? kGoOn : kStopDisabled;
}

std::array<GateVerdict, 2> gates_before_config(const GatewaySettings& s, bool csv_present) {
    return {gate_csv(csv_present), gate_enabled(s)};
}

GateVerdict first_stop(const std::array<GateVerdict, 2>& verdicts) {
    const auto* stop = std::find_if(verdicts.begin(), verdicts.end(),
                                    [](const GateVerdict& v) { return v.stops; });
    return stop != verdicts.end() ? *stop : kGoOn;
}

GateVerdict gate_before_config(const GatewaySettings& s, bool csv_present) {
    return first_stop(gates_before_config(s, csv_present));
}

GateVerdict gate_config_written(bool written) {
    return written ? kGoOn : kStopConfigNotWritten;
}

GateVerdict gate_tls(const GatewaySettings& s, const TlsFilesPresent& present) {
    switch (s.mqtt_tls) {
        case 1:
            return present.ca ? kGoOn : kStopNoCa;
        case 2:
            // The CA certificate is not looked for in this mode.
            if (!present.local_cert) {
                return kStopNoLocalCert;
            }
            return present.local_key ? kGoOn : kStopNoLocalKey;
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

GateVerdict gate_daemon_usable(bool usable) {
    return usable ? kGoOn : kStopDaemonUnusable;
}

GateVerdict gate_shell_ran(int shell_status) {
    return shell_status == 0 ? kGoOn : kStopShellNotRun;
}

}  // namespace quorbix
