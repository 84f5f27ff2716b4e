#include "learned_config.h"

#include <dirent.h>
#include <errno.h>
#include <string.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <utility>
#include <vector>

namespace tulka {

namespace {

const char *const config_suffix = ".conf";

bool is_config_name(const std::string &name)
{
    const std::size_t suffix = ::strlen(config_suffix);
    return name.size() >= suffix && name.compare(name.size() - suffix, suffix, config_suffix) == 0;
}

// Numbers within names compare by value, as in "ls -v".
std::vector<std::string> config_names(const std::string &dir, bool &readable)
{
    std::vector<std::string> names;
    DIR *listing = ::opendir(dir.c_str());
    readable = listing != nullptr;
    if (!listing)
        return names;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(listing);
        if (!entry) {
            // A listing cut short by an error counts as unreadable.
            readable = errno == 0;
            break;
        }
        std::string name = entry->d_name;
        if (is_config_name(name))
            names.push_back(std::move(name));
    }
    ::closedir(listing);
    std::sort(names.begin(), names.end(),
              [](const std::string &a, const std::string &b) { return ::strverscmp(a.c_str(), b.c_str()) < 0; });
    return names;
}

} // namespace

learned_store::learned_store(std::string config_dir, shell_runner run, log_sink log, std::string lircd_conf_dir)
    : m_config_dir(std::move(config_dir)), m_run(std::move(run)), m_log(std::move(log)),
      m_lircd_conf_dir(std::move(lircd_conf_dir))
{
}

std::string learned_store::config_path(const std::string &key) const { return m_config_dir + key + config_suffix; }

std::string learned_store::copy_command(const std::string &key) const
{
    return "cp " + config_path(key) + " " + m_lircd_conf_dir;
}

std::string learned_store::show_command(const std::string &key) const
{
    return "cat " + m_lircd_conf_dir + key + config_suffix;
}

bool learned_store::write_file(const std::string &path, const std::string &text) const
{
    std::ofstream file(path, std::ios::out | std::ios::trunc | std::ios::binary);
    if (!file) {
        m_log.error("error: failed to open ", path);
        return false;
    }
    file << text;
    file.close();
    if (file)
        return true;
    // A cut-off file must not reach lircd, which would reject it.
    m_log.error("error: failed to write ", path);
    ::unlink(path.c_str());
    return false;
}

void learned_store::save_config(const std::string &key, std::uint32_t gap, ir_signal first, ir_signal second,
                                const ir_signal &raw) const
{
    const std::string path = config_path(key);
    m_log.info("saving remote config ", path);
    end_with_pulse(first);
    end_with_pulse(second);
    if (!write_file(path, learned_config_text(key, gap, first, second, raw)))
        return;
    m_run(copy_command(key));
    m_run(show_command(key));
}

void learned_store::clear_learned(lircd_control &lircd) const
{
    bool readable = false;
    const std::vector<std::string> names = config_names(m_config_dir, readable);
    if (!readable)
        return;
    for (const std::string &name : names) {
        for (const std::string &dir : {m_config_dir, m_lircd_conf_dir}) {
            const std::string path = dir + name;
            m_log.info("unlink ", path);
            ::unlink(path.c_str());
        }
    }
    lircd.reload_lircd();
}

} // namespace tulka
