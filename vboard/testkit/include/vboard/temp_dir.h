// A fresh directory for one test (or suite, or benchmark), removed with all
// it holds when the TempDir goes, unless VBOARD_KEEP is set:
//
//   vboard::testkit::TempDir dir("upgimage-test");   // $TMPDIR/upgimage-test.XXXXXX
//   write(dir.file("layout.txt"), ...);
//
// Header-only, so that tests which do not link the test kit (the unit tests
// that also run on armhf, the benchmarks) use it too.
#ifndef VBOARD_TEMP_DIR_H
#define VBOARD_TEMP_DIR_H

#include <stdlib.h>

#include <cstdio>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

namespace vboard::testkit {

class TempDir {
public:
    explicit TempDir(const std::string &prefix = "test")
    {
        const char *tmp = ::getenv("TMPDIR");
        std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/" + prefix + ".XXXXXX";
        if (!::mkdtemp(&name[0])) {
            throw std::runtime_error("cannot create " + name);
        }
        path_ = name;
    }
    ~TempDir()
    {
        if (::getenv("VBOARD_KEEP")) {
            std::fprintf(stderr, "vboard testkit: kept %s\n", path_.c_str());
            return;
        }
        std::error_code ignored; // a test's leftovers must not end the run
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir &) = delete;
    TempDir &operator=(const TempDir &) = delete;

    const std::string &path() const { return path_; }
    std::string file(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

} // namespace vboard::testkit

#endif
