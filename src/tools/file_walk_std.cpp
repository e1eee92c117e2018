#include "tools/file_walk.h"

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <system_error>

namespace fs = std::filesystem;

namespace {

// A file read with pread on a descriptor of its own: opening, the head read
// and closing are all the system calls a file that is no executable costs;
// the size is asked for (fstat) only when the scan needs it.
class CPosixFile : public CReadableFile {
public:
    explicit CPosixFile(const fs::path& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY)) {}
    ~CPosixFile() override {
        if (fd_ >= 0) ::close(fd_);
    }
    CPosixFile(const CPosixFile&) = delete;
    CPosixFile& operator=(const CPosixFile&) = delete;
    bool IsOpen() const { return fd_ >= 0; }
    uint64_t Size() override {
        struct stat st;
        return ::fstat(fd_, &st) == 0 && st.st_size > 0 ? static_cast<uint64_t>(st.st_size) : 0;
    }
    // One pread: a regular file reads short only at its end.
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        if (offset > static_cast<uint64_t>(INT64_MAX)) return -1;
        ssize_t n;
        do {
            n = ::pread(fd_, buffer, count, static_cast<off_t>(offset));
        } while (n < 0 && errno == EINTR);
        return n;
    }

private:
    int fd_;
};

}  // namespace

WalkResult WalkFiles(const std::string& utf8Path, const std::function<void(const std::string&)>& onFile) {
    const fs::path path = fs::u8path(utf8Path);
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(path, ec);
    if (ec) return WalkResult::Missing;
    if (fs::is_directory(st)) {
        for (fs::recursive_directory_iterator it(path, fs::directory_options::skip_permission_denied, ec), end;
             !ec && it != end; it.increment(ec)) {
            if (it->is_regular_file(ec) && !it->is_symlink(ec)) onFile(it->path().u8string());
        }
    } else if (fs::is_regular_file(st)) {
        onFile(utf8Path);
    }
    return WalkResult::Walked;
}

std::unique_ptr<CReadableFile> OpenReadableFile(const std::string& utf8Path) {
    auto file = std::make_unique<CPosixFile>(fs::u8path(utf8Path));
    if (!file->IsOpen()) return nullptr;
    return file;
}
