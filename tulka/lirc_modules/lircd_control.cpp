#include "lircd_control.h"

#include <boost/filesystem/operations.hpp>

#include <signal.h>
#include <sys/types.h>

#include <cstdlib>
#include <fstream>
#include <utility>

namespace tulka {

int run_with_system(const std::string &command) { return std::system(command.c_str()); }

lircd_control::lircd_control(shell_runner run, lircd_paths paths) : m_run(std::move(run)), m_paths(std::move(paths)) {}

std::string lircd_control::stop_command() { return "killall lircd"; }

std::string lircd_control::start_command()
{
    return "lircd -O /etc/lirc/lirc_options.conf -r --repeat-max=10 /etc/lirc/lircd.conf";
}

std::string lircd_control::mkdir_command() const { return "mkdir -p " + m_paths.run_dir; }

void lircd_control::stop_lircd() { m_run(stop_command()); }

void lircd_control::start_lircd()
{
    boost::system::error_code ec;
    if (!boost::filesystem::is_directory(m_paths.run_dir, ec))
        m_run(mkdir_command());
    m_run(start_command());
}

void lircd_control::restart_lircd()
{
    stop_lircd();
    start_lircd();
}

int lircd_control::reload_lircd()
{
    std::ifstream pid_file(m_paths.pid_file);
    long pid = 0;
    // 0 and negative ids would signal whole process groups, tulkad's own
    // among them; they are no lircd.
    if (!(pid_file >> pid) || pid <= 0 || static_cast<pid_t>(pid) != pid)
        return -1;
    return ::kill(static_cast<pid_t>(pid), SIGHUP);
}

} // namespace tulka
