#include "tools/file_walk.h"

#include <filesystem>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace {

class CStreamFile : public CReadableFile {
public:
    explicit CStreamFile(const fs::path& path) : in_(path, std::ios::binary) {
        std::error_code ec;
        size_ = fs::file_size(path, ec);
        if (ec) size_ = 0;
    }
    bool IsOpen() const { return static_cast<bool>(in_); }
    uint64_t Size() override { return size_; }
    int64_t ReadAt(uint64_t offset, uint8_t* buffer, std::size_t count) override {
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        if (!in_) return -1;
        in_.read(reinterpret_cast<char*>(buffer), static_cast<std::streamsize>(count));
        return in_.gcount();
    }

private:
    std::ifstream in_;
    uint64_t size_ = 0;
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
    auto file = std::make_unique<CStreamFile>(fs::u8path(utf8Path));
    if (!file->IsOpen()) return nullptr;
    return file;
}
