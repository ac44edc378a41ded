#include "maintenance/update_scripts.h"

namespace ravelto::maintenance {

std::string UpdateBatchScript() {
  // Line 1: "echo Дождитесь завершения Lorvex и нажмите любую клавишу", the
  // Russian words in code page 866.
  static constexpr std::string_view kLines[] = {
      "echo \x84\xAE\xA6\xA4\xA8\xE2\xA5\xE1\xEC \xA7\xA0\xA2\xA5\xE0\xE8\xA5\xAD\xA8\xEF Lorvex "
      "\xA8 \xAD\xA0\xA6\xAC\xA8\xE2\xA5 \xAB\xEE\xA1\xE3\xEE \xAA\xAB\xA0\xA2\xA8\xE8\xE3",
      "pause",
      "taskkill /F /IM ravelto.exe",
      "del ravelto.exe",
      "rename raveltonew.exe ravelto.exe",
      "start ravelto.exe",
      "del update.bat",
  };
  std::string script;
  for (std::string_view line : kLines) {
    script += line;
    script += "\r\n";
  }
  return script;
}

std::string UpdateShellScript(std::string_view programName) {
  const std::string name(programName);
  std::string s;
  s += "#!/bin/sh\n";
  s += "# Replaces the desk by the downloaded raveltonew.exe and starts it.\n";
  s += "# Usage: sh update.sh <process id of the running desk>\n";
  s += "cd \"$(dirname \"$0\")\" || exit 1\n";
  s += "echo '\xD0\x94\xD0\xBE\xD0\xB6\xD0\xB4\xD0\xB8\xD1\x82\xD0\xB5\xD1\x81\xD1\x8C "
       "\xD0\xB7\xD0\xB0\xD0\xB2\xD0\xB5\xD1\x80\xD1\x88\xD0\xB5\xD0\xBD\xD0\xB8\xD1\x8F Lorvex "
       "\xD0\xB8 \xD0\xBD\xD0\xB0\xD0\xB6\xD0\xBC\xD0\xB8\xD1\x82\xD0\xB5 Enter'\n";
  s += "read -r _answer || true\n";
  // ps where it exists, the /proc files otherwise.
  s += "process_name() { ps -p \"$1\" -o comm= 2>/dev/null || cat \"/proc/$1/comm\" 2>/dev/null; }\n";
  s += "process_state() { ps -p \"$1\" -o stat= 2>/dev/null || "
       "sed -n 's/^State:[[:space:]]*\\(.\\).*/\\1/p' \"/proc/$1/status\" 2>/dev/null; }\n";
  s += "desk_pid=$1\n";
  s += "if [ -n \"$desk_pid\" ] && [ \"$(process_name \"$desk_pid\")\" = '" + name + "' ]; then\n";
  s += "  kill -9 \"$desk_pid\" 2>/dev/null\n";
  s += "  tries=0\n";
  s += "  while [ $tries -lt 50 ]; do\n";
  s += "    case \"$(process_state \"$desk_pid\")\" in ''|Z*) break ;; esac\n";
  s += "    sleep 0.1; tries=$((tries + 1))\n";
  s += "  done\n";
  s += "fi\n";
  s += "rm -f './" + name + "'\n";
  s += "mv -f raveltonew.exe './" + name + "' && chmod +x './" + name + "'\n";
  s += "nohup './" + name + "' >/dev/null 2>&1 &\n";
  s += "rm -f update.bat \"$(basename \"$0\")\"\n";
  return s;
}

}  // namespace ravelto::maintenance
