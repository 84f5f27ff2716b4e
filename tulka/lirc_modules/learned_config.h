// Learned buttons as lircd remote configurations: the file text, its
// installation for lircd, and the deletion of all learned buttons.
#ifndef TULKA_LIRC_MODULES_LEARNED_CONFIG_H
#define TULKA_LIRC_MODULES_LEARNED_CONFIG_H

#include <cstdint>
#include <string>

#include "ir_signal.h"
#include "lircd_control.h"
#include "log_sink.h"

namespace tulka {

// A raw code starts with a pulse and alternates, so it must end with one:
// an even count loses its last (space) value.
void end_with_pulse(ir_signal &code);

// The whole configuration text; `second` may be empty.
std::string learned_config_text(const std::string &key, std::uint32_t gap, const ir_signal &first,
                                const ir_signal &second, const ir_signal &raw);

class learned_store {
public:
    // `config_dir` ends in "/"; the lircd directory is fixed on the board.
    learned_store(std::string config_dir, shell_runner run, log_sink log,
                  std::string lircd_conf_dir = "/etc/lirc/lircd.conf.d/");

    std::string config_path(const std::string &key) const;
    std::string copy_command(const std::string &key) const;
    std::string show_command(const std::string &key) const;

    // Writes the learned file of `key` and installs it for lircd.
    void save_config(const std::string &key, std::uint32_t gap, ir_signal first, ir_signal second,
                     const ir_signal &raw) const;

    // Deletes every learned file and its installed copy, then makes lircd
    // drop them.
    void clear_learned(lircd_control &lircd) const;

private:
    bool write_file(const std::string &path, const std::string &text) const;

    std::string m_config_dir;
    shell_runner m_run;
    log_sink m_log;
    std::string m_lircd_conf_dir;
};

} // namespace tulka

#endif
