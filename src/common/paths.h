// The launcher's fixed paths. None of them is configurable: the settings
// writer and the daemon find the files at exactly these places.
#pragma once

namespace quorbix::paths {

inline constexpr const char kSettings[] = "/opt/quorbix/etc/settings";
inline constexpr const char kDaemon[] = "/opt/quorbix/bin/quorbix";
inline constexpr const char kTokenTool[] = "/opt/quorbix/bin/create-sas";

// The launcher's own directory and the staging directory in it: checked
// before anything is written or removed there (see the launcher).
inline constexpr const char kQuorbixDir[] = "/tmp/quorbix";
inline constexpr const char kStagingDir[] = "/tmp/quorbix/etc";
inline constexpr const char kCsv[] = "/tmp/quorbix/etc/config.csv";
inline constexpr const char kCa[] = "/tmp/quorbix/etc/ca.crt";
inline constexpr const char kLocalCert[] = "/tmp/quorbix/etc/local.crt";
inline constexpr const char kLocalKey[] = "/tmp/quorbix/etc/local.key";
inline constexpr const char kDaemonConfig[] = "/tmp/quorbix/config";
// The daemon configuration is formed here, then renamed over kDaemonConfig.
inline constexpr const char kDaemonConfigTemp[] = "/tmp/quorbix/config.tmp";
inline constexpr const char kLog[] = "/tmp/quorbix/quorbix.log";
inline constexpr const char kMapFile[] = "/tmp/quorbix/quorbix_map.txt";
inline constexpr const char kExMapFile[] = "/tmp/quorbix/ex_quorbix_map.txt";
inline constexpr const char kScriptTemplate[] = "/tmp/quorbix/script-%u.sh";

}  // namespace quorbix::paths
