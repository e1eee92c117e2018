// The quarantine folder's files through POSIX calls: temporaries opened with
// O_EXCL, made permanent with link(), which never replaces a file, and
// unlinked afterwards.
#include <cerrno>
#include <cstdio>
#include <ctime>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <system_error>

#include "common/text16.h"
#include "quarantine/quarantine_store.h"

namespace fs = std::filesystem;

std::u16string FreshEntryTag() {
    static std::atomic<unsigned> counter{0};
    static const unsigned base = std::random_device{}();
    char tag[16];
    std::snprintf(tag, sizeof tag, "%08x", (base + 0x9e3779b9u * ++counter) & 0xFFFFFFFFu);
    return AsciiToUtf16(tag);
}

namespace {

bool WriteAll(int fd, const std::vector<uint8_t>& bytes) {
    for (std::size_t at = 0; at < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + at, bytes.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        at += static_cast<std::size_t>(n);
    }
    return ::fsync(fd) == 0;
}

enum class Placed { kDone, kExists, kFailed };

// `bytes` as the new file `target`, through a temporary in `folder`.
Placed PlaceNew(const std::string& folder, const std::string& target, const std::vector<uint8_t>& bytes,
                const char* prefix) {
    for (int attempt = 0; attempt < 16; ++attempt) {
        const std::string temporary = folder + "/" + prefix + Utf16ToUtf8(FreshEntryTag()) + ".tmp";
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0) {
            if (errno == EEXIST) continue;
            return Placed::kFailed;
        }
        const bool written = WriteAll(fd, bytes);
        const bool closed = ::close(fd) == 0;
        Placed result = Placed::kFailed;
        if (written && closed) {
            if (::link(temporary.c_str(), target.c_str()) == 0) {
                result = Placed::kDone;
            } else if (errno == EEXIST) {
                result = Placed::kExists;
            }
        }
        ::unlink(temporary.c_str());
        return result;
    }
    return Placed::kFailed;
}

class CStdQuarantineFiles : public CQuarantineFiles {
public:
    explicit CStdQuarantineFiles(const std::u16string& folder) : folder_(Utf16ToUtf8(folder)) {}

    bool List(std::vector<std::u16string>& names) override {
        std::error_code ec;
        const fs::file_status st = fs::status(fs::u8path(folder_), ec);
        if (!fs::exists(st)) return ec.value() == ENOENT || ec.value() == 0;
        if (!fs::is_directory(st)) return false;
        std::vector<std::u16string> found;
        for (fs::directory_iterator it(fs::u8path(folder_), ec), end; !ec && it != end; it.increment(ec)) {
            if (it->is_regular_file(ec) && !it->is_symlink(ec)) {
                found.push_back(Utf8ToUtf16(it->path().filename().u8string()));
            }
        }
        if (ec) return false;
        names = std::move(found);
        return true;
    }

    std::optional<std::vector<uint8_t>> Read(std::u16string_view name) override {
        const int fd = ::open(PathOf(name).c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) return std::nullopt;
        std::vector<uint8_t> bytes;
        uint8_t buffer[1 << 16];
        for (;;) {
            const ssize_t n = ::read(fd, buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                ::close(fd);
                return std::nullopt;
            }
            if (n == 0) break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        ::close(fd);
        return bytes;
    }

    bool Create(std::u16string_view name, const std::vector<uint8_t>& bytes) override {
        std::error_code ec;
        fs::create_directories(fs::u8path(folder_), ec);
        return PlaceNew(folder_, PathOf(name), bytes, "~tsq") == Placed::kDone;
    }

    bool Remove(std::u16string_view name) override { return ::unlink(PathOf(name).c_str()) == 0 || errno == ENOENT; }

    PlaceResult Place(const std::u16string& path, const std::vector<uint8_t>& bytes) override {
        const std::string target = Utf16ToUtf8(path);
        struct stat st;
        if (::lstat(target.c_str(), &st) == 0) return PlaceResult::kExists;
        // Never through a link on the way.
        for (std::size_t at = target.find('/', 1); at != std::string::npos; at = target.find('/', at + 1)) {
            if (::lstat(target.substr(0, at).c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return PlaceResult::kLinked;
        }
        const std::size_t slash = target.rfind('/');
        const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : target.substr(0, slash);
        switch (PlaceNew(folder, target, bytes, ".tsr")) {
            case Placed::kDone: return PlaceResult::kPlaced;
            case Placed::kExists: return PlaceResult::kExists;
            case Placed::kFailed: break;
        }
        return PlaceResult::kFailed;
    }

private:
    std::string PathOf(std::u16string_view name) const { return folder_ + "/" + Utf16ToUtf8(name); }

    std::string folder_;
};

}  // namespace

std::unique_ptr<CQuarantineFiles> OpenQuarantineFiles(const std::u16string& folder) {
    return std::make_unique<CStdQuarantineFiles>(folder);
}
