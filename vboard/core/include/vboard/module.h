// Kernel modules loaded with init_module on a board, kept in the state
// directory ("modules") for the boot that loaded them: a reboot unloads them.
#ifndef VBOARD_MODULE_H
#define VBOARD_MODULE_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vboard {

constexpr const char *kModulesState = "modules";

struct ModuleImage {
    size_t size = 0;
    uint32_t crc32 = 0;
    bool elf = false;
    std::string name; // from the module's "name=" information, empty if none
};

struct LoadedModule {
    int boot = 0;
    std::string name;
    size_t size = 0;
    uint32_t crc32 = 0;
    std::string options;
};

ModuleImage inspect_module(const void *image, size_t size);

// Loads a module as the kernel would: -ENOEXEC for an image that is not a
// relocatable ELF object naming its module, -EEXIST when a module of that
// name is loaded in this boot; else records it and returns 0.
int load_module(const std::string &dir, const ModuleImage &image, const std::string &options);

// The modules loaded in the board's current boot, in load order.
std::vector<LoadedModule> loaded_modules(const std::string &dir);

} // namespace vboard

#endif
