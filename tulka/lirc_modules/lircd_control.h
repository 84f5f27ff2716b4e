// Stopping, starting and reloading lircd. Commands go through a runner so
// that the daemon can log them (exec_sync) and tests can read them.
#ifndef TULKA_LIRC_MODULES_LIRCD_CONTROL_H
#define TULKA_LIRC_MODULES_LIRCD_CONTROL_H

#include <functional>
#include <string>

namespace tulka {

// Runs one shell command line and returns the shell's status.
using shell_runner = std::function<int(const std::string &)>;

// The plain runner: the system shell.
int run_with_system(const std::string &command);

struct lircd_paths {
    std::string run_dir = "/var/run/lirc";
    std::string pid_file = "/var/run/lirc/lircd.pid";
};

class lircd_control {
public:
    explicit lircd_control(shell_runner run, lircd_paths paths = {});

    static std::string stop_command();
    static std::string start_command();
    std::string mkdir_command() const;

    void stop_lircd();
    void start_lircd();
    void restart_lircd();
    // SIGHUP to the pid in the pid file; the kill result, or -1 when there
    // is no usable pid.
    int reload_lircd();

private:
    shell_runner m_run;
    lircd_paths m_paths;
};

} // namespace tulka

#endif
